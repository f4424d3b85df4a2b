// The desktop application on a private Xvfb. First window: from starting the `tapforge`
// process to the first pixel it paints inside its window (seen from outside, by the X server).
// Open / select / edit: the main thread's time for each action in a window showing a 7 000-step
// script, until the window has processed the resulting events (repaints included).
#include "BenchMain.h"
#include "BenchXvfb.h"

#include <spawn.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/AppState.h"
#include "model/ScriptJson.h"
#include "platform/sim/SimDesktop.h"
#include "ui/MainWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

using namespace tapforge;

namespace {

Xvfb& server() {
    static Xvfb xvfb;
    return xvfb;
}

// The first mapped top-level window titled "Tapforge", or 0.
Window findWindow(Display* d) {
    Window root = DefaultRootWindow(d), parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && XFetchName(d, children[i], &name) &&
            name && std::string(name) == "Tapforge")
            found = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// A pixel of the window that is no longer the black of the root behind it.
bool painted(Display* d, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a)) return false;
    XImage* image = XGetImage(d, w, a.width / 2, a.height - 4, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    const bool lit = XGetPixel(image, 0, 0) != 0;
    XDestroyImage(image);
    return lit;
}

void BM_FirstPaintedWindow(benchmark::State& state) {
    if (server().display().empty()) return state.SkipWithError("Xvfb did not start");
    Display* d = XOpenDisplay(server().display().c_str());
    QTemporaryDir home;
    setenv("DISPLAY", server().display().c_str(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
    // On a loaded machine the wall time mostly waits for a core: the CPU time the process used
    // (start to quit) is reported beside it.
    double cpuSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        char* argv[] = {const_cast<char*>(TAPFORGE_APP_PATH), nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return state.SkipWithError("no tapforge");
        Window w = 0;
        while (!(w = findWindow(d)) || !painted(d, w)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        kill(pid, SIGTERM);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        cpuSeconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    state.counters["process_cpu_ms"] = cpuSeconds * 1000 / double(state.iterations());
    XCloseDisplay(d);
}
BENCHMARK(BM_FirstPaintedWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Answers every open panel with the prepared file.
struct FixedPanels final : app::FilePanels {
    std::string path;
    std::optional<std::string> chooseSaveLocation(const std::string&, const std::string&) override { return {}; }
    std::optional<std::string> chooseOpenLocation(const std::string&, app::FileKind, const std::string&) override {
        return path;
    }
};

struct BigWindow {
    QTemporaryDir folder;
    std::shared_ptr<FixedPanels> panels = std::make_shared<FixedPanels>();
    std::shared_ptr<platform::sim::SimDesktop> sim = platform::sim::SimDesktop::create();
    std::unique_ptr<app::AppState> state;
    std::unique_ptr<ui::MainWindow> window;

    BigWindow() {
        Script script;
        for (int i = 0; i < 7000; ++i) {
            Step s = Step::create(StepKind(i % 11), GlobalPoint{double(i), double(i)});
            s.note = "步骤 " + std::to_string(i);
            script.steps.push_back(s);
        }
        panels->path = (folder.path() + "/big.json").toStdString();
        std::ofstream(panels->path) << *encodeScript(script).json;
        sim->addScreen({0, 0, 1920, 1080});
        app::AppLocations locations{(folder.path() + "/app").toStdString(), (folder.path() + "/Tapforge.conf").toStdString()};
        app::UiServices services;
        services.filePanels = panels;
        state = std::make_unique<app::AppState>(app::AppStateServices{sim->desktop(), services, locations, {}, {}});
        window = std::make_unique<ui::MainWindow>(*state, ui::SessionIdentity{});
        window->show();
        settle();
    }
    void open() {
        state->openScript();
        while (state->isOpening()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        settle();
    }
    static void settle() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_x11_ui";
    static char* argv[] = {name, nullptr};
    setenv("DISPLAY", server().display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static QApplication app(argc, argv);
    return app;
}

void BM_Open7000StepScript(benchmark::State& state) {
    if (server().display().empty()) return state.SkipWithError("Xvfb did not start");
    application();
    BigWindow big;
    for (auto _ : state) big.open();
}
BENCHMARK(BM_Open7000StepScript)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SelectStepIn7000(benchmark::State& state) {
    if (server().display().empty()) return state.SkipWithError("Xvfb did not start");
    application();
    BigWindow big;
    big.open();
    int i = 0;
    for (auto _ : state) {
        big.state->setSelectedStepID(big.state->script().steps[size_t(3000 + (i++ % 50))].id);
        BigWindow::settle();
    }
}
BENCHMARK(BM_SelectStepIn7000)->Unit(benchmark::kMillisecond);

void BM_EditStepIn7000(benchmark::State& state) {
    if (server().display().empty()) return state.SkipWithError("Xvfb did not start");
    application();
    BigWindow big;
    big.open();
    const Uuid id = big.state->script().steps[3500].id;
    big.state->setSelectedStepID(id);
    BigWindow::settle();
    int64_t delay = 0;
    for (auto _ : state) {
        Step s = big.state->step(id);
        s.delayMs = ++delay;
        big.state->writeStep(id, s);
        BigWindow::settle();
    }
}
BENCHMARK(BM_EditStepIn7000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
