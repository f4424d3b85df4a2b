// `tapforge-cli play --sim` of runs that never wait, interrupted at seeded random moments: every
// SIGINT ends the process with status 130 after the stop line, whatever the run floods out.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace tapforge {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirst = "E0000000-0000-4000-8000-000000000001";

std::string loopScript(const std::string& firstStep) {
    return std::string("{\"name\":\"忙\",\"loopCount\":0,\"steps\":[") + firstStep +
           ",{\"id\":\"E0000000-0000-4000-8000-000000000002\",\"kind\":\"goto\",\"gotoStepID\":\"" + kFirst + "\"}]}";
}

std::string step(const std::string& fields) { return std::string("{\"id\":\"") + kFirst + "\"," + fields + "}"; }

// Exit status (-1 when it did not end within `timeout`, the child is then killed).
int waitFor(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string lastLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
}

TEST(PlaySignal, InterruptEndsABusyDryRunEveryTime) {
    const fs::path dir = fs::path(testing::TempDir()) / ("tapforge-signal-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "loop.lua") << "local n = 0\nwhile true do n = n + 1; log('第 ' .. n .. ' 次') end\n";
    const std::vector<std::pair<std::string, std::string>> scripts{
        {"goto", loopScript(step("\"kind\":\"comment\""))},
        {"log", loopScript(step("\"kind\":\"keyPress\""))},
        {"delay", loopScript(step("\"kind\":\"delay\",\"delayMs\":1"))},
        {"lua", loopScript(step("\"kind\":\"lua\",\"luaFile\":\"loop.lua\",\"timeoutMs\":0"))},
    };
    for (const auto& [name, json] : scripts) std::ofstream(dir / (name + ".json")) << json;
    const std::string screen = std::string(TAPFORGE_SOURCE_DIR) + "/examples/screens/desktop.png";

    std::mt19937 random(18);
    std::uniform_int_distribution<int> delayMs(0, 150);
    for (int run = 0; run < 24; ++run) {
        const std::string& name = scripts[run % scripts.size()].first;
        const int wait = delayMs(random);
        SCOPED_TRACE(name + " run " + std::to_string(run) + ", SIGINT after " + std::to_string(wait) + " ms");
        const fs::path out = dir / ("out" + std::to_string(run) + ".txt");
        const std::string script = (dir / (name + ".json")).string();
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            execl(TAPFORGE_CLI_PATH, TAPFORGE_CLI_PATH, "play", script.c_str(), "--sim", screen.c_str(), nullptr);
            _exit(127);
        }
        // From the run's start (sanitizer builds start slowly), a seeded while into the run.
        const auto started = std::chrono::steady_clock::now();
        auto printed = [&out] {
            std::error_code missing;
            const uintmax_t size = fs::file_size(out, missing);
            return !missing && size > 0;
        };
        while (!printed() && std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        kill(pid, SIGINT);
        ASSERT_EQ(waitFor(pid, std::chrono::seconds(20)), 130);
        EXPECT_EQ(lastLine(out), "⏹ 已手动停止");
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tapforge
