// tapforge-cli play FILE [--sim SCREEN.png] [--pointer X,Y] [--events OUT.jsonl] [--base DIR]
// [--verbose] [--speed F] [--loops N] [--timeout S] [--max-steps N]: plays a script on the X
// display, or as a dry run on a simulated desktop showing SCREEN.png, printing the run log and
// optionally every posted event. The exit status tells how the run ended (see exitStatus).
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the run the way the stop button does (the run releases
// what it holds, newest first, and logs its stop line); the process then exits with 128 + the
// signal. They are taken by a thread of their own (sigtimedwait), so neither a busy main thread
// nor a stuck worker keeps them from being seen. A second SIGINT within 2 s, or a stopped run that
// the runner reports as not ending, ends the process at once after releasing every key and button
// the run holds (within 3 s, even when the X server does not confirm the releases). A lost X
// connection ends the run; what was held is released through a new connection when the server
// still answers.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/HeldInputSink.h"
#include "cli/ScriptFile.h"
#include "engine/LuaMacroHost.h"
#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include "platform/sim/SimDesktop.h"
#include "vision/PngCodec.h"

#ifdef TAPFORGE_HAVE_X11
#include "platform/x11/X11Desktop.h"
#endif

#ifdef TAPFORGE_COVERAGE
extern "C" {
#include <gcov.h>
}
#endif

namespace tapforge::cli {

namespace {

namespace fs = std::filesystem;
using platform::EventFlags;
using platform::Point;
using platform::PointerButton;
using platform::Press;

constexpr const char* kArguments =
    "play FILE [--sim SCREEN.png] [--pointer X,Y] [--events OUT.jsonl] [--base DIR] [--verbose] [--speed F] "
    "[--loops N] [--timeout S] [--max-steps N]";

// How long an ending forced by a signal waits for the display to take in the releases.
constexpr auto kForcedReleaseBound = std::chrono::seconds(3);
constexpr const char* kReleaseUnconfirmed = "⏹ X 服务器没有确认已松开按住的键和按钮，立即退出";

// The stop signals, blocked in every thread of the command and taken by one thread that waits for
// them. Blocked before any other thread exists, so that all of them inherit the mask.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&set_);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set_, signal);
        pthread_sigmask(SIG_BLOCK, &set_, &previousMask_);
    }
    ~StopSignals() {
        quit_ = true;
        if (thread_.joinable()) thread_.join();
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // `force` runs on the signal thread for a second SIGINT within 2 s of an earlier one.
    void start(std::function<void(int)> force) {
        force_ = std::move(force);
        thread_ = std::thread([this] { watch(); });
    }
    // The first stop signal received, or 0.
    int received() const { return first_.load(); }

private:
    void watch() {
        std::optional<std::chrono::steady_clock::time_point> lastInterrupt;
        while (!quit_) {
            const timespec slice{0, 50'000'000};
            const int signal = sigtimedwait(&set_, nullptr, &slice);
            if (signal <= 0) continue;
            int none = 0;
            first_.compare_exchange_strong(none, signal);
            if (signal != SIGINT) continue;
            const auto now = std::chrono::steady_clock::now();
            if (lastInterrupt && now - *lastInterrupt <= std::chrono::seconds(2)) force_(SIGINT);
            lastInterrupt = now;
        }
    }

    sigset_t set_;
    sigset_t previousMask_;
    std::atomic<int> first_{0};
    std::atomic<bool> quit_{false};
    std::function<void(int)> force_;
    std::thread thread_;
};

std::string numberText(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(int64_t(v));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", std::isfinite(v) ? v : 0.0);
    return buffer;
}

const char* buttonName(PointerButton b) {
    switch (b) {
        case PointerButton::left: return "left";
        case PointerButton::right: return "right";
        case PointerButton::center: return "center";
    }
    return "left";
}

// Passes every event on and writes each one that was posted as a JSON line, timed from the
// start of the run on the clock in use. Called on the runner's worker thread.
class RecordingSink final : public platform::EventSink {
public:
    RecordingSink(std::shared_ptr<platform::EventSink> inner, std::shared_ptr<platform::Clock> clock, std::ostream& out)
        : inner_(std::move(inner)), clock_(std::move(clock)), out_(out) {}

    void markStart() { startMicros_ = clock_->nowMicros(); }

    bool postButton(PointerButton button, Press press, Point at, EventFlags flags, int64_t clickState) override {
        if (!inner_->postButton(button, press, at, flags, clickState)) return false;
        write(std::string(press == Press::down ? "mouseDown" : "mouseUp"), ",\"button\":\"" + std::string(buttonName(button)) +
                  "\",\"x\":" + numberText(at.x) + ",\"y\":" + numberText(at.y) +
                  ",\"clickState\":" + std::to_string(clickState) + ",\"flags\":" + std::to_string(flags));
        return true;
    }
    bool postMove(Point at) override {
        if (!inner_->postMove(at)) return false;
        write("mouseMove", ",\"x\":" + numberText(at.x) + ",\"y\":" + numberText(at.y));
        return true;
    }
    bool postScroll(int32_t lines, Point at) override {
        if (!inner_->postScroll(lines, at)) return false;
        write("scroll", ",\"x\":" + numberText(at.x) + ",\"y\":" + numberText(at.y) + ",\"lines\":" + std::to_string(lines));
        return true;
    }
    bool postKey(uint16_t keyCode, Press press, EventFlags flags) override {
        if (!inner_->postKey(keyCode, press, flags)) return false;
        write(press == Press::down ? "keyDown" : "keyUp",
              ",\"keyCode\":" + std::to_string(keyCode) + ",\"flags\":" + std::to_string(flags));
        return true;
    }
    std::optional<Point> pointerLocation() override { return inner_->pointerLocation(); }
    bool canPostKey(uint16_t keyCode) override { return inner_->canPostKey(keyCode); }
    platform::CharacterPost postCharacter(std::string_view character, Press press) override {
        const platform::CharacterPost result = inner_->postCharacter(character, press);
        if (result == platform::CharacterPost::posted)
            write(press == Press::down ? "charDown" : "charUp",
                  ",\"text\":" + nlohmann::json(std::string(character)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return result;
    }
    void finishTyping() override { inner_->finishTyping(); }
    bool confirmPosted() override { return inner_->confirmPosted(); }

private:
    void write(const std::string& type, const std::string& fields) {
        const int64_t ms = (clock_->nowMicros() - startMicros_) / 1000;
        std::lock_guard lock(mutex_);
        out_ << "{\"t\":" << ms << ",\"type\":\"" << type << "\"" << fields << "}\n";
        out_.flush();
    }

    std::shared_ptr<platform::EventSink> inner_;
    std::shared_ptr<platform::Clock> clock_;
    std::ostream& out_;
    std::mutex mutex_;
    int64_t startMicros_ = 0;
};

// After the X connection was lost: releases what the run holds through a new connection to the
// same display, when the server still answers (our client was cut off, the server lives on).
void releaseThroughNewConnection(HeldInputSink& held) {
#ifdef TAPFORGE_HAVE_X11
    std::string error;
    if (auto fresh = platform::x11::openX11Desktop([](std::function<void()> fn) { fn(); }, &error)) {
        held.releaseAllAndClose(fresh->events.get());
        return;
    }
#endif
    held.releaseAllAndClose();
}

struct PlayOptions {
    std::string file;
    std::optional<std::string> sim;
    Point pointer;
    std::optional<std::string> events;
    std::optional<std::string> base;
    bool verbose = false;
    double speed = 1.0;
    std::optional<int64_t> loops;
    std::optional<int64_t> timeoutMs;
    std::optional<int64_t> maxSteps;
};

// A whole number in [low, high] and nothing else.
std::optional<int64_t> parseInteger(const std::string& text, int64_t low, int64_t high) {
    try {
        size_t used = 0;
        const long long v = std::stoll(text, &used);
        if (used != text.size() || v < low || v > high) return std::nullopt;
        return v;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A finite number greater than zero and at most `high`.
std::optional<double> parsePositive(const std::string& text, double high) {
    try {
        size_t used = 0;
        const double v = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(v) || v <= 0 || v > high) return std::nullopt;
        return v;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// 0 ran to its end; 1 ended early by the script, a stop or a limit, or had a Lua error or
// time-out; 3 empty script. (2 is an unusable file or argument, reported before any run.)
int exitStatus(const RunOutcome& outcome) {
    switch (outcome.end) {
        case RunOutcome::End::empty: return 3;
        case RunOutcome::End::finished: return outcome.luaFailed ? 1 : 0;
        case RunOutcome::End::scriptStopped:
        case RunOutcome::End::stopped:
        case RunOutcome::End::timeLimit:
        case RunOutcome::End::stepLimit: return 1;
    }
    return 1;
}

bool parsePoint(const std::string& text, Point& out) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    try {
        size_t used = 0;
        const std::string xs = text.substr(0, comma), ys = text.substr(comma + 1);
        out.x = std::stod(xs, &used);
        if (used != xs.size()) return false;
        out.y = std::stod(ys, &used);
        if (used != ys.size()) return false;
    } catch (const std::exception&) {
        return false;
    }
    return std::isfinite(out.x) && std::isfinite(out.y);
}

std::optional<PlayOptions> parseArguments(const std::vector<std::string>& args) {
    PlayOptions o;
    bool havePointer = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--speed" || a == "--loops" || a == "--timeout" || a == "--max-steps") {
            auto v = value();
            if (!v) {
                std::cerr << a << " 需要一个值\n";
                return std::nullopt;
            }
            bool ok = true;
            if (a == "--speed") {
                const auto f = parsePositive(*v, 1e6);
                ok = f.has_value();
                if (f) o.speed = *f;
            } else if (a == "--loops") {
                o.loops = parseInteger(*v, 0, std::numeric_limits<int32_t>::max());
                ok = o.loops.has_value();
            } else if (a == "--timeout") {
                // Up to about 31 years; finer than a millisecond is rounded up.
                const auto seconds = parsePositive(*v, 1e9);
                ok = seconds.has_value();
                if (seconds) o.timeoutMs = static_cast<int64_t>(std::ceil(*seconds * 1000.0));
            } else {
                o.maxSteps = parseInteger(*v, 1, std::numeric_limits<int64_t>::max());
                ok = o.maxSteps.has_value();
            }
            if (!ok) {
                std::cerr << a << " 的值无效：" << *v << "\n";
                return std::nullopt;
            }
        } else if (a == "--sim" || a == "--events" || a == "--base" || a == "--pointer") {
            auto v = value();
            if (!v) {
                std::cerr << a << " 需要一个值\n";
                return std::nullopt;
            }
            if (a == "--sim") o.sim = *v;
            else if (a == "--events") o.events = *v;
            else if (a == "--base") o.base = *v;
            else if (!parsePoint(*v, o.pointer)) {
                std::cerr << "--pointer 需要 X,Y 形式的坐标：" << *v << "\n";
                return std::nullopt;
            } else {
                havePointer = true;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "未知选项：" << a << "\n";
            return std::nullopt;
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            std::cerr << "多余的参数：" << a << "\n";
            return std::nullopt;
        }
    }
    if (o.file.empty()) return std::nullopt;
    if (havePointer && !o.sim) std::cerr << "--pointer 只在 --sim 下有效，已忽略\n";
    return o;
}

int runPlay(const std::vector<std::string>& args) {
    const std::optional<PlayOptions> options = parseArguments(args);
    if (!options) {
        std::cerr << "usage: tapforge-cli " << kArguments << "\n";
        return 2;
    }
    std::string error;
    std::optional<Script> script = loadScriptFile(options->file, error);
    if (!script) return reportOpenFailure(error);
    if (options->loops) script->loopCount = *options->loops;

    StopSignals signals;
    MainLoop loop;
    platform::Desktop desktop;
    std::shared_ptr<platform::sim::SimDesktop> sim;
    if (options->sim) {
        std::string png;
        if (!readFile(*options->sim, png, error)) {
            std::cerr << "无法读取屏幕图片：" << error << "\n";
            return 2;
        }
        auto image = vision::PngCodec::decode({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
        if (!image) {
            std::cerr << "无法解码屏幕图片：" << *options->sim << "\n";
            return 2;
        }
        sim = platform::sim::SimDesktop::createWithScreenshot(std::move(*image));
        sim->setPointer(options->pointer);
        desktop = sim->desktop();
    } else {
#ifdef TAPFORGE_HAVE_X11
        auto x11 = platform::x11::openX11Desktop(loop.poster(), &error);
        if (!x11) {
            std::cerr << "无法打开 X 显示：" << error << "\n";
            return 2;
        }
        desktop = std::move(*x11);
#else
        std::cerr << "此版本没有 X11 支持，请使用 --sim SCREEN.png\n";
        return 2;
#endif
    }

    std::ofstream eventsFile;
    std::shared_ptr<RecordingSink> recorder;
    if (options->events) {
        eventsFile.open(*options->events, std::ios::binary | std::ios::trunc);
        if (!eventsFile) {
            std::cerr << "无法写入事件文件：" << *options->events << "\n";
            return 2;
        }
        recorder = std::make_shared<RecordingSink>(desktop.events, desktop.clock, eventsFile);
        desktop.events = recorder;
    }

    auto held = std::make_shared<HeldInputSink>(desktop.events);
    desktop.events = held;

    std::error_code ec;
    fs::path base = options->base ? fs::path(*options->base) : fs::absolute(options->file, ec).parent_path();

    ScriptRunner runner(ScriptRunnerServices{desktop, loop.poster(), std::make_shared<LuaMacroHost>(desktop), {}});
    runner.onLog = [](const std::string& line) { std::cout << line << "\n" << std::flush; };

    // Ends the process now, leaving nothing pressed. Any thread; the worker may still be running.
    // The process ends only once the display has taken in the releases (it drops what a client
    // wrote but it had not read when the client goes away), or after kForcedReleaseBound when
    // it does not answer: whichever comes first ends the process, the other waits for that.
    auto forceExit = [held](int signal, const char* why) {
        static std::atomic<bool> ending{false};
        const auto endWith = [signal](const char* line) {
            if (!ending.exchange(true)) {
                std::cout << line << "\n" << std::flush;
#ifdef TAPFORGE_COVERAGE
                __gcov_dump();  // _exit skips the write of the line counters that exit would do
#endif
                _exit(128 + signal);
            }
            for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
        };
        std::thread([endWith] {
            std::this_thread::sleep_for(kForcedReleaseBound);
            endWith(kReleaseUnconfirmed);
        }).detach();
        endWith(held->releaseAllAndClose() ? why : kReleaseUnconfirmed);
    };
    signals.start([&](int signal) { forceExit(signal, "⏹ 再次收到中断信号，已松开按住的键和按钮，立即退出"); });

    if (recorder) recorder->markStart();
    RunOptions runOptions;
    runOptions.timeLimitMs = options->timeoutMs;
    runOptions.stepLimit = options->maxSteps;
    runOptions.logEachStep = options->verbose;
    runOptions.speed = options->speed;
    runner.start(*script, base, runOptions);
    bool stopSent = false;
    bool connectionLost = false;
    loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::hours(24 * 365 * 100), [&] {
        const int signal = signals.received();
        if (signal != 0 && !stopSent) {
            stopSent = true;
            runner.stop();
        }
        if (signal != 0 && runner.stopOverdue()) forceExit(signal, "⏹ 运行没有结束，已松开按住的键和按钮，立即退出");
        if (!sim && !connectionLost && !desktop.permissions->inputTrusted(platform::Prompt::no)) {
            connectionLost = true;
            runner.onLog("⚠️ 与 X 服务器的连接已断开，运行结束");
            runner.stop();
            releaseThroughNewConnection(*held);
        }
    });
    loop.drain();

    if (const int signal = signals.received()) return 128 + signal;
    const std::optional<RunOutcome> outcome = runner.lastOutcome();
    return outcome ? exitStatus(*outcome) : 1;
}
const CommandRegistration registration{Command{
    "play",
    kArguments,
    "在 X 显示上运行脚本，或用 --sim 在截图构成的模拟屏幕上试运行；逐行输出运行日志。"
    "退出码：0 运行到结束，1 被脚本停止、Lua 出错或超时、达到 --timeout 或 --max-steps，2 无法打开文件，3 空脚本",
    runPlay,
}};

}  // namespace

}  // namespace tapforge::cli
