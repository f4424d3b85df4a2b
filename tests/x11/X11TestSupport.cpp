#include "X11TestSupport.h"
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
// Xlib macros that clash with GoogleTest names.
#undef Bool
#undef None


#include "platform/x11/X11Desktop.h"

namespace tapforge::testing {

bool defineTwoMonitors(Display* d) {
    int eventBase, errorBase, major = 0, minor = 0;
    if (!XRRQueryExtension(d, &eventBase, &errorBase) || !XRRQueryVersion(d, &major, &minor) ||
        (major == 1 && minor < 5))
        return false;
    const Window root = DefaultRootWindow(d);
    XRRScreenResources* resources = XRRGetScreenResources(d, root);
    if (!resources || resources->noutput < 1) return false;
    RROutput output = resources->outputs[0];
    XRRSetOutputPrimary(d, root, output);

    // The monitor holding the server's one output replaces that output's own monitor and is
    // primary because the output is.
    XRRMonitorInfo primary{};
    primary.name = XInternAtom(d, "TF-PRIMARY", False);
    primary.x = kPrimaryRootX;
    primary.y = 0;
    primary.width = 1920;
    primary.height = 1080;
    primary.mwidth = 500;
    primary.mheight = 280;
    primary.primary = True;
    primary.noutput = 1;
    primary.outputs = &output;
    XRRSetMonitor(d, root, &primary);

    XRRMonitorInfo left{};
    left.name = XInternAtom(d, "TF-LEFT", False);
    left.x = 0;
    left.y = 0;
    left.width = 1280;
    left.height = 1024;
    left.mwidth = 340;
    left.mheight = 270;
    left.noutput = 0;
    left.outputs = nullptr;
    XRRSetMonitor(d, root, &left);
    XRRFreeScreenResources(resources);
    XSync(d, False);

    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(d, root, True, &count);
    bool ok = count == 2;
    for (int i = 0; monitors && i < count; ++i)
        if (monitors[i].x == kPrimaryRootX) ok = ok && monitors[i].primary;
    if (monitors) XRRFreeMonitors(monitors);
    return ok;
}

OtherClient::OtherClient(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

OtherClient::~OtherClient() {
    if (display_) XCloseDisplay(display_);
}

void OtherClient::key(unsigned keysym) {
    const KeyCode kc = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, kc, True, CurrentTime);
    XTestFakeKeyEvent(display_, kc, False, CurrentTime);
    XSync(display_, False);
}

void OtherClient::click(int rootX, int rootY, unsigned button) {
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void OtherClient::move(int rootX, int rootY) {
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
    XSync(display_, False);
}

void X11Test::SetUp() {
    server = std::make_unique<XvfbServer>(kRootWidth, kRootHeight);
    ASSERT_TRUE(server->running()) << server->failure();
    // Monitors defined by a client last only as long as its connection.
    monitorClient_ = XOpenDisplay(server->display().c_str());
    ASSERT_NE(monitorClient_, nullptr);
    twoMonitors = defineTwoMonitors(monitorClient_);
    mainQueue = std::make_unique<MainQueue>();
    std::string error;
    platform::x11::X11Options options;
    options.display = server->display();
    desktop = platform::x11::openX11Desktop(mainQueue->poster(), &error, options);
    ASSERT_TRUE(desktop) << error;
}

void X11Test::TearDown() {
    desktop.reset();
    mainQueue.reset();
    if (monitorClient_ && server->running()) XCloseDisplay(monitorClient_);
    monitorClient_ = nullptr;
    server.reset();
}

}  // namespace tapforge::testing
