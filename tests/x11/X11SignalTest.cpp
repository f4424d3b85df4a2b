// `tapforge-cli play` ended by a signal while its script holds a key, a modifier or a button:
// the run stops like the stop button (its stop line), nothing stays held on the server, and the
// process exits with 128 + the signal.
#include <signal.h>

#include "X11TestSupport.h"

using namespace tapforge::testing;

namespace {

struct Held {
    const char* name;
    const char* step;   // the JSON fields of the step that presses it
};

const Held kHeld[] = {
    {"key", R"("kind":"keyPress","keyCode":0,"keyKind":"down")"},
    {"modifier", R"("kind":"keyPress","keyCode":59,"keyKind":"down")"},
    {"button", R"("kind":"mouseClick","x":40,"y":40,"hasPoint":true,"clickKind":"down")"},
};

class X11Play : public X11Test {
protected:
    X11Play() { usesCli = true; }
    // A script that presses with its first step and stays busy in its second.
    std::string script(const char* press, const char* busy) {
        std::ofstream(folder / "held.json") << R"({"name":"按住","steps":[{"id":"E0000000-0000-4000-8000-000000000001",)"
                                            << press << R"(},{"id":"E0000000-0000-4000-8000-000000000002",)" << busy
                                            << "}]}";
        return folder / "held.json";
    }
    // Once `line` is out, the server holds the press (which can reach it after the line reaches us).
    void awaitPress(Child& child, Display* probe, const std::string& line) {
        ASSERT_TRUE(child.waitForOutput(line, 20s)) << child.output();
        ASSERT_TRUE(waitUntil([&] { return !bool(nothingHeld(probe)); }, 10s)) << "nothing was pressed";
    }
    TempFolder folder{"tapforge-play"};
};

class X11Signal : public X11Play, public ::testing::WithParamInterface<std::tuple<int, Held>> {};

TEST_P(X11Signal, EndsTheRunAndReleasesWhatItHolds) {
    const auto [signal, held] = GetParam();
    CountingWindow window(server->display());
    Child child({cliPath().string(), "play", script(held.step, R"("kind":"delay","delayMs":600000)")}, server->display());
    ASSERT_NO_FATAL_FAILURE(awaitPress(child, window.display(), "▶︎ 开始执行"));
    kill(child.pid(), signal);
    EXPECT_EQ(child.wait(20s), 128 + signal) << child.output();
    EXPECT_NE(child.output().find("⏹ 已手动停止"), std::string::npos) << child.output();
    EXPECT_TRUE(nothingHeld(window.display()));
}

INSTANTIATE_TEST_SUITE_P(Matrix, X11Signal, ::testing::Combine(::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                                                               ::testing::ValuesIn(kHeld)),
                         [](const auto& info) {
                             return std::string(sigabbrev_np(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
                         });

// A run that cannot be stopped (a Lua hook that loops runs with hooks off): a second SIGINT ends
// the process at once, releasing what the run holds. The hook says when it is stuck: a first
// SIGINT before that would stop the run the ordinary way.
TEST_F(X11Play, SecondInterruptEndsAStuckRunAndReleasesWhatItHolds) {
    std::ofstream(folder / "stuck.lua") << "debug.sethook(function() log('卡死') while true do end end, '', 1)\nlocal x = 1\n";
    CountingWindow window(server->display());
    const std::string file = script(kHeld[1].step, R"("kind":"lua","luaFile":"stuck.lua","timeoutMs":0)");
    Child child({cliPath().string(), "play", file}, server->display());
    ASSERT_NO_FATAL_FAILURE(awaitPress(child, window.display(), "卡死"));
    kill(child.pid(), SIGINT);
    std::this_thread::sleep_for(200ms);
    kill(child.pid(), SIGINT);
    EXPECT_EQ(child.wait(20s), 130) << child.output();
    EXPECT_NE(child.output().find("⏹ 再次收到中断信号"), std::string::npos) << child.output();
    EXPECT_TRUE(nothingHeld(window.display()));
}

}  // namespace
