// Runs the built tapforge-cli as a user runs it and collects its exit status and output.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tapforge::test {

namespace fs = std::filesystem;

inline const std::string kDemo = std::string(TAPFORGE_SOURCE_DIR) + "/examples/demo.json";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(testing::TempDir()) / "tapforge-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with `args`, or with `cli` false the command `args` names.
    Outcome run(const std::vector<std::string>& args, bool cli = true) {
        std::string command = cli ? shellQuote(TAPFORGE_CLI_PATH) : "";
        // Appended piecewise: GCC 12 at -O3 misreads chained operator+ on strings.
        for (const std::string& a : args) command.append(" ").append(shellQuote(a));
        command.append(" >").append(shellQuote(dir_ / "stdout")).append(" 2>").append(shellQuote(dir_ / "stderr"));
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(dir_ / "stdout"), readAll(dir_ / "stderr")};
    }

    std::string write(const std::string& name, const std::string& contents) {
        std::ofstream(dir_ / name, std::ios::binary) << contents;
        return dir_ / name;
    }

    static std::vector<std::string> split(const std::string& text, char at) {
        std::vector<std::string> out(1);
        for (char c : text)
            if (c == at) out.emplace_back(); else out.back() += c;
        return out;
    }
    static std::vector<std::string> lines(const std::string& text) {
        auto out = split(text, '\n');
        if (out.back().empty()) out.pop_back();
        return out;
    }

    fs::path dir_;
};

}  // namespace tapforge::test
