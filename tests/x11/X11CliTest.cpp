// tapforge-cli pointer and screenshot against the private server, as a user runs them.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "X11TestSupport.h"
#include "vision/PngCodec.h"

extern char** environ;

using namespace tapforge;
using namespace tapforge::testing;

namespace {

std::filesystem::path cliPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "tapforge-cli";
}

struct CliRun {
    int exitCode = -1;
    std::string out;
};

// Runs the CLI with DISPLAY set to `display`, capturing standard output.
CliRun runCli(const std::string& display, std::vector<std::string> args) {
    const std::filesystem::path outFile = std::filesystem::temp_directory_path() /
                                          ("tapforge-cli-out-" + std::to_string(getpid()) + ".txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), cliPath().string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"DISPLAY=" + display};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    CliRun run;
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(outFile);
    run.out.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(outFile);
    return run;
}

}  // namespace

class X11Cli : public X11Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(cliPath())) GTEST_SKIP() << "tapforge-cli not built at " << cliPath();
        X11Test::SetUp();
    }
};

TEST_F(X11Cli, PointerPrintsGlobalPoints) {
    ASSERT_TRUE(desktop->events->postMove({321, 45}));
    const CliRun run = runCli(server->display(), {"pointer"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "321,45\n");
}

TEST_F(X11Cli, ScreenshotOfARectangleHoldsTheColourShownThere) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    window.fill(originX() + 40, 30, 16, 8, 0x10C0F0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tapforge-shot-" + std::to_string(getpid()) + ".png")).string();
    const CliRun run = runCli(server->display(), {"screenshot", path, "--rect", "40,30,16,8"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    const auto image = vision::PngCodec::decode(bytes);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 16);
    ASSERT_EQ(image->height, 8);
    for (int y : {0, 7})
        for (int x : {0, 15}) {
            const uint8_t* p = image->pixel(x, y);
            EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{0x10, 0xC0, 0xF0}));
        }
    EXPECT_EQ(runCli(server->display(), {"screenshot", path, "--rect", "1,2,3"}).exitCode, 2);
    EXPECT_EQ(runCli(server->display(), {"screenshot", path, "--rect", "100000,0,5,5"}).exitCode, 2);
}
