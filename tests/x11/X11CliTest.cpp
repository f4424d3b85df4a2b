// tapforge-cli pointer, screenshot and release against the private server, as a user runs them.
#include <X11/keysym.h>

#include <iterator>

#include "X11TestSupport.h"
#include "vision/PngCodec.h"

using namespace tapforge;
using namespace tapforge::testing;
using Outcome = std::pair<int, std::string>;

class X11Cli : public X11Test {
protected:
    X11Cli() { usesCli = true; }
};

TEST_F(X11Cli, PointerPrintsGlobalPoints) {
    ASSERT_TRUE(desktop->events->postMove({321, 45}));
    EXPECT_EQ(runCli({"pointer"}), (Outcome{0, "321,45\n"}));
}

TEST_F(X11Cli, ScreenshotOfARectangleHoldsTheColourShownThere) {
    CountingWindow window(server->display());
    window.fill(originX() + 40, 30, 16, 8, 0x10C0F0);
    const TempFolder folder("tapforge-shot");
    const auto [code, out] = runCli({"screenshot", folder / "shot.png", "--rect", "40,30,16,8"});
    ASSERT_EQ(code, 0) << out;
    std::ifstream in(folder / "shot.png", std::ios::binary);
    const auto image = vision::PngCodec::decode(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(image);
    ASSERT_EQ(std::pair(image->width, image->height), std::pair(16, 8));
    for (int y : {0, 7})
        for (int x : {0, 15}) EXPECT_EQ(rgbaAt(*image, x, y), (std::array{0x10, 0xC0, 0xF0, 255}));
    for (const char* rect : {"1,2,3", "100000,0,5,5"})
        EXPECT_EQ(runCli({"screenshot", folder / "bad.png", "--rect", rect}).first, 2) << rect;
}

// What a killed run left pressed through XTEST is let go; the server reports nothing held after.
TEST_F(X11Cli, ReleaseLetsGoOfKeysAndButtonsLeftDown) {
    other->press(XK_Shift_L, true);
    other->press(XK_a, true);
    other->button(1, true);
    ASSERT_EQ(keysHeld(other->display()).size(), 2u);
    EXPECT_EQ(runCli({"release"}), (Outcome{0, "已松开 2 个按键、1 个鼠标按钮\n"}));
    EXPECT_TRUE(nothingHeld(other->display()));
}
