// `tapforge-cli play` ended by a signal while its script holds a key, a modifier or a button:
// the run stops like the stop button (its stop line), nothing stays held on the server, and the
// process exits with 128 + the signal.
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "X11TestSupport.h"

using namespace tapforge;
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
    void SetUp() override {
        if (!std::filesystem::exists(cliPath())) GTEST_SKIP() << "tapforge-cli not built at " << cliPath();
        X11Test::SetUp();
    }
};

class X11Signal : public X11Play, public ::testing::WithParamInterface<std::tuple<int, Held>> {};

TEST_P(X11Signal, EndsTheRunAndReleasesWhatItHolds) {
    const auto [signal, held] = GetParam();
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("tapforge-signal-" + std::to_string(getpid()) + ".json")).string();
    std::ofstream(file) << R"({"name":"按住","steps":[{"id":"E0000000-0000-4000-8000-000000000001",)" << held.step
                        << R"(},{"id":"E0000000-0000-4000-8000-000000000002","kind":"delay","delayMs":600000}]})";
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Child child({cliPath().string(), "play", file}, server->display());
    ASSERT_TRUE(child.waitForOutput("▶︎ 开始执行", std::chrono::seconds(20))) << child.output();
    // The press is posted right after the start line; wait until the server has it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (keysHeld(window.display()).empty() && buttonsHeld(window.display()) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(!keysHeld(window.display()).empty() || buttonsHeld(window.display()) != 0) << "nothing was pressed";

    kill(child.pid(), signal);
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 128 + signal) << child.output();
    std::filesystem::remove(file);
    EXPECT_NE(child.output().find("⏹ 已手动停止"), std::string::npos) << child.output();
    EXPECT_TRUE(keysHeld(window.display()).empty());
    EXPECT_EQ(buttonsHeld(window.display()), 0u);
}

// A run that cannot be stopped (a Lua hook that loops runs with hooks off): a second SIGINT ends
// the process at once, releasing what the run holds.
TEST_F(X11Play, SecondInterruptEndsAStuckRunAndReleasesWhatItHolds) {
    const auto dir = std::filesystem::temp_directory_path() / ("tapforge-stuck-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "stuck.lua") << "debug.sethook(function() while true do end end, '', 1)\nlocal x = 1\n";
    std::ofstream(dir / "stuck.json")
        << R"({"name":"卡住","steps":[{"id":"E0000000-0000-4000-8000-000000000001",)" << kHeld[1].step
        << R"(},{"id":"E0000000-0000-4000-8000-000000000002","kind":"lua","luaFile":"stuck.lua","timeoutMs":0}]})";
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    Child child({cliPath().string(), "play", (dir / "stuck.json").string()}, server->display());
    ASSERT_TRUE(child.waitForOutput("▶︎ Lua：stuck.lua", std::chrono::seconds(20))) << child.output();
    // The log line can reach us before the server has handled the key press posted before it.
    const auto pressedBy = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (keysHeld(window.display()).empty() && std::chrono::steady_clock::now() < pressedBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(keysHeld(window.display()).empty());
    kill(child.pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(child.pid(), SIGINT);
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 130) << child.output();
    std::filesystem::remove_all(dir);
    EXPECT_NE(child.output().find("⏹ 再次收到中断信号"), std::string::npos) << child.output();
    EXPECT_TRUE(keysHeld(window.display()).empty());
}

INSTANTIATE_TEST_SUITE_P(Matrix, X11Signal, ::testing::Combine(::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                                                               ::testing::ValuesIn(kHeld)),
                         [](const auto& info) {
                             return std::string(sigabbrev_np(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
