// tapforge-cli find, run as the user runs it: one JSON line per template, option refusals.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "vision/PngCodec.h"

namespace tapforge {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

class FindCommand : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("tapforge-find-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // A noise screen; the templates are cut from it at known places.
        screen_ = {160, 100, std::vector<uint8_t>(160 * 100 * 4, 255)};
        uint32_t v = 12345;
        for (size_t i = 0; i < screen_.pixels.size(); ++i)
            if (i % 4 != 3) screen_.pixels[i] = uint8_t((v = v * 1103515245 + 12345) >> 16);
        writePng("screen.png", screen_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string writePng(const std::string& name, const platform::RgbaImage& img) {
        const auto bytes = vision::PngCodec::encode(img);
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        return p;
    }
    std::string cut(const std::string& name, int x, int y, int w, int h) {
        platform::RgbaImage t{w, h, {}};
        for (int j = 0; j < h; ++j) t.pixels.insert(t.pixels.end(), screen_.pixel(x, y + j), screen_.pixel(x, y + j) + w * 4);
        return writePng(name, t);
    }
    Outcome run(const std::vector<std::string>& args) {
        std::string command = TAPFORGE_CLI_PATH;
        for (const std::string& a : args) command += " '" + a + "'";
        command += " >'" + (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
        const int raw = std::system(command.c_str());
        auto read = [&](const char* f) {
            std::ifstream in(dir_ / f);
            std::ostringstream s;
            s << in.rdbuf();
            return s.str();
        };
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("out"), read("err")};
    }

    fs::path dir_;
    platform::RgbaImage screen_;
};

TEST_F(FindCommand, OneLinePerTemplateInOrderWithSearchTime) {
    const std::string screen = (dir_ / "screen.png").string();
    const Outcome r = run({"find", screen, cut("a.png", 30, 20, 24, 16), cut("b.png", 100, 60, 12, 30), "--threshold", "0.95"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::vector<nlohmann::json> results;
    while (std::getline(lines, line)) results.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0]["rect"], nlohmann::json::array({30, 20, 24, 16}));
    EXPECT_EQ(results[1]["rect"], nlohmann::json::array({100, 60, 12, 30}));
    for (const auto& j : results) {
        EXPECT_TRUE(j["matched"].get<bool>());
        EXPECT_GE(j["elapsedMs"].get<double>(), 0.0);
    }
}

TEST_F(FindCommand, BadOptionsAreNamedWithTheirValue) {
    const std::string screen = (dir_ / "screen.png").string(), templ = cut("t.png", 0, 0, 10, 10);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"--threshold", "abc"}, {"--threshold", "1.5"}, {"--threshold", "-0.1"},
        {"--region", "1,2,3"}, {"--scale", "0"},        {"--scale", "x"}};
    for (const auto& [option, value] : bad) {
        SCOPED_TRACE(option + " " + value);
        const Outcome r = run({"find", screen, templ, option, value});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(option + " 的值无效：" + value, 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace tapforge
