// Screens, grabs and permissions against the private server.

#include "X11TestSupport.h"
#include <X11/Xlib.h>
// Xlib macros that clash with GoogleTest names.
#undef Bool
#undef None
#include "platform/x11/X11Desktop.h"

using namespace tapforge;
using namespace tapforge::platform;
using namespace tapforge::testing;

class X11Screens : public X11Test {};

TEST_F(X11Screens, PrimaryComesFirstAtOriginFramesUseTheBottomLeftConventionAndAccessIsGranted) {
    ASSERT_TRUE(twoMonitors) << "RandR 1.5 monitors could not be defined on Xvfb";
    const auto list = desktop->screens->screens();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].frame, (Rect{0, 0, 1920, 1080}));
    // The secondary's top is at global y 0, so its bottom-left y is 1080 - 0 - 1024 = 56.
    EXPECT_EQ(list[1].frame, (Rect{-1280, 56, 1280, 1024}));
    EXPECT_EQ(desktop->screens->mainDisplayBounds(), (Rect{0, 0, 1920, 1080}));
    EXPECT_TRUE(desktop->permissions->inputTrusted(Prompt::yes));
    EXPECT_TRUE(desktop->permissions->screenCapturePreflight());
}

class X11Grab : public X11Test, public ::testing::WithParamInterface<bool> {};

TEST_P(X11Grab, FilledRegionComesBackInItsColourAndOutsideTheRootIsBlack) {
    platform::x11::X11Options options;
    options.display = server->display();
    options.useSharedMemory = GetParam();
    auto grabber = platform::x11::openX11Desktop(mainQueue->poster(), nullptr, options);
    ASSERT_TRUE(grabber);
    CountingWindow window(server->display(), 0, 0, kRootWidth, kRootHeight);
    window.fill(originX() + 100, 200, 24, 24, 0x336699);
    window.fill(originX() + 124, 200, 24, 24, 0xFF0000);

    RgbaImage out;
    ASSERT_TRUE(grabber->grab->grab({100, 200, 48, 24}, out));
    ASSERT_EQ(out.width, 48);
    ASSERT_EQ(out.height, 24);
    for (int y : {0, 23})
        for (int x : {0, 23}) {
            const uint8_t* p = out.pixel(x, y);
            EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), (std::array<int, 4>{0x33, 0x66, 0x99, 255}));
        }
    const uint8_t* red = out.pixel(30, 10);
    EXPECT_EQ((std::array<int, 4>{red[0], red[1], red[2], red[3]}), (std::array<int, 4>{255, 0, 0, 255}));

    // Half above the root: the missing rows are opaque black, the rest is the fill.
    const uint8_t* reused = out.pixels.data();
    ASSERT_TRUE(grabber->grab->grab({100, 190, 10, 20}, out));
    EXPECT_EQ(out.pixels.data(), reused) << "the buffer should be reused when large enough";
    ASSERT_EQ(out.height, 20);
    EXPECT_EQ(out.pixel(0, 0)[3], 255);
    const uint8_t* inside = out.pixel(0, 15);
    EXPECT_EQ(inside[2], 0x99);
    EXPECT_FALSE(grabber->grab->grab({100000, 0, 10, 10}, out));
    ASSERT_TRUE(grabber->grab->grab(grabber->screens->mainDisplayBounds(), out));
    EXPECT_EQ(out.width, twoMonitors ? 1920 : kRootWidth);
    EXPECT_FALSE(grabber->grab->grab({0, 0, 0, 10}, out));
}

INSTANTIATE_TEST_SUITE_P(SharedMemory, X11Grab, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Shm" : "GetImage"; });

TEST(X11Open, MissingDisplayIsAnErrorNotACrash) {
    std::string error;
    platform::x11::X11Options options;
    options.display = ":9999";
    EXPECT_FALSE(platform::x11::openX11Desktop(nullptr, &error, options));
    EXPECT_NE(error.find("9999"), std::string::npos) << error;
}
