// tapforge-cli pointer and screenshot against the private server, as a user runs them.
#include <X11/keysym.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <iterator>

#include "X11TestSupport.h"
#include "vision/PngCodec.h"

using namespace tapforge;
using namespace tapforge::testing;

namespace {

// Runs the CLI against `display`: exit code and output.
std::pair<int, std::string> runCli(const std::string& display, std::vector<std::string> args) {
    args.insert(args.begin(), cliPath().string());
    Child child(args, display);
    const int code = child.wait(std::chrono::seconds(20));
    return {code, child.output()};
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
    EXPECT_EQ(runCli(server->display(), {"pointer"}), (std::pair<int, std::string>{0, "321,45\n"}));
}

TEST_F(X11Cli, ScreenshotOfARectangleHoldsTheColourShownThere) {
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    window.fill(originX() + 40, 30, 16, 8, 0x10C0F0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tapforge-shot-" + std::to_string(getpid()) + ".png")).string();
    const auto [code, out] = runCli(server->display(), {"screenshot", path, "--rect", "40,30,16,8"});
    ASSERT_EQ(code, 0) << out;
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
    EXPECT_EQ(runCli(server->display(), {"screenshot", path, "--rect", "1,2,3"}).first, 2);
    EXPECT_EQ(runCli(server->display(), {"screenshot", path, "--rect", "100000,0,5,5"}).first, 2);
}

// What a killed run left pressed through XTEST is let go; the server reports nothing held after.
TEST_F(X11Cli, ReleaseLetsGoOfKeysAndButtonsLeftDown) {
    OtherClient other(server->display());
    other.press(XK_Shift_L, true);
    other.press(XK_a, true);
    other.button(1, true);
    ASSERT_EQ(keysHeld(other.display()).size(), 2u);
    EXPECT_EQ(runCli(server->display(), {"release"}), (std::pair<int, std::string>{0, "已松开 2 个按键、1 个鼠标按钮\n"}));
    EXPECT_TRUE(keysHeld(other.display()).empty());
    EXPECT_EQ(buttonsHeld(other.display()), 0u);
}
