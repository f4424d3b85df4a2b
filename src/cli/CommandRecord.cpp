// tapforge-cli record OUT.json [--mouse-moves] [--stop-key SHORTCUT]: records the user's input on
// the X display into a new script until the stop shortcut (default f9), SIGINT, SIGTERM or
// SIGHUP (a closed terminal), and saves what it has in every one of these cases.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "cli/Cli.h"
#include "cli/ScriptFile.h"
#include "input/InputRecorder.h"
#include "input/keymap/KeyMap.h"
#include "model/Script.h"
#include "model/ScriptJson.h"

#ifdef TAPFORGE_HAVE_X11
#include "platform/x11/X11Desktop.h"
#endif

namespace tapforge::cli {

namespace {

constexpr const char* kUsage = "usage: tapforge-cli record OUT.json [--mouse-moves] [--stop-key SHORTCUT]";

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "flag is set from a signal handler");

extern "C" void onStopSignal(int) { gInterrupted.store(true, std::memory_order_relaxed); }

// The CLI's main thread: the backend posts tap records here and the loop runs them in order.
// Shared with the poster so that a record posted late still finds a live queue.
class MainLoop {
public:
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        ready_.notify_one();
    }
    // Runs posted tasks until `done` answers true or a stop signal arrives. The wait is sliced
    // because a signal handler cannot wake a condition variable.
    void runUntil(const std::function<bool()>& done) {
        while (!done() && !gInterrupted.load(std::memory_order_relaxed)) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (tasks_.empty()) ready_.wait_for(lock, std::chrono::milliseconds(50));
                if (tasks_.empty()) continue;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

[[maybe_unused]] bool sameShortcut(const Step& step, const KeyMap::Shortcut& stop) {
    // X has no fn key; ignore it on both sides so "fn+f9" still stops.
    ModifierSet held = step.modifiers, wanted = stop.modifiers;
    held.remove(ModifierSet::function());
    wanted.remove(ModifierSet::function());
    return step.kind == StepKind::keyPress && step.keyCode == stop.keyCode && held == wanted;
}

// The folder the file will be written to must exist and be writable: found out now rather than
// after the user has recorded.
bool checkWritable(const std::string& path, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": 是一个目录";
        return false;
    }
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    if (::access(folder.c_str(), W_OK) != 0) {
        error = folder.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

struct RecordOptions {
    std::string outPath;
    bool mouseMoves = false;
    KeyMap::Shortcut stopKey{101, {}};   // F9
    std::string stopKeyText = "f9";
};

std::optional<RecordOptions> parseArgs(const std::vector<std::string>& args) {
    RecordOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--mouse-moves") {
            options.mouseMoves = true;
        } else if (arg == "--stop-key") {
            if (i + 1 >= args.size()) return std::nullopt;
            options.stopKeyText = args[++i];
            const auto shortcut = KeyMap::parseShortcut(options.stopKeyText);
            if (!shortcut) {
                std::cerr << "无法识别的停止热键：" << options.stopKeyText << "\n";
                return std::nullopt;
            }
            options.stopKey = *shortcut;
        } else if (options.outPath.empty() && arg.rfind("--", 0) != 0) {
            options.outPath = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.outPath.empty()) return std::nullopt;
    return options;
}

int runRecord(const std::vector<std::string>& args) {
    const auto options = parseArgs(args);
    if (!options) {
        std::cerr << kUsage << "\n";
        return 2;
    }
    std::string error;
    if (!checkWritable(options->outPath, error)) {
        std::cerr << "无法写入：" << error << "\n";
        return 2;
    }
#ifndef TAPFORGE_HAVE_X11
    std::cerr << "录制需要 X11 显示，本程序构建时未包含 X11 支持。\n";
    return 2;
#else
    auto loop = std::make_shared<MainLoop>();
    auto desktop = platform::x11::openX11Desktop([loop](std::function<void()> task) { loop->post(std::move(task)); },
                                                 &error);
    if (!desktop) {
        std::cerr << "无法连接 X 显示：" << error << "\n";
        return 2;
    }

    Script script;
    script.name = std::filesystem::path(options->outPath).stem().string();
    bool stopKeySeen = false;
    // A script longer than a script file may hold could not be played: recording ends there.
    bool full = false;
    // Set just before stop(): what it hands over (the press of a button still held) is part
    // of the recording; input after the stop key until then is not.
    bool stopping = false;

    InputRecorder recorder(desktop->tap);
    recorder.recordMouseMove = options->mouseMoves;
    recorder.onAppend = [&](const Step& step) {
        if (stopKeySeen && !stopping) return;
        if (!stopping && sameShortcut(step, options->stopKey)) {
            // The pause before the stop key was delivered just ahead of it: it goes too.
            if (!script.steps.empty() && script.steps.back().kind == StepKind::delay) script.steps.pop_back();
            stopKeySeen = true;
            return;
        }
        if (full) return;
        script.steps.push_back(step);
        full = script.steps.size() >= kMaxScriptSteps;
    };
    recorder.onRemoveLast = [&] {
        if (!script.steps.empty()) script.steps.pop_back();
    };

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {}, oldTerm {}, oldHup {};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);
    sigaction(SIGHUP, &action, &oldHup);
    const auto restoreSignals = [&] {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
    };
    gInterrupted.store(false);

    try {
        recorder.start();
    } catch (const InputRecorder::RecorderError& e) {
        restoreSignals();
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::cout << "⏺ 开始录制" << (options->mouseMoves ? "（含鼠标轨迹）" : "") << std::endl;
    std::cerr << "按 " << KeyMap::shortcutDisplay(options->stopKey.modifiers, options->stopKey.keyCode)
              << " 或 Ctrl+C 停止录制\n";

    loop->runUntil([&] { return stopKeySeen || full; });
    stopping = true;
    recorder.stop();
    restoreSignals();
    if (full) std::cerr << "已达到脚本的上限（" << kMaxScriptSteps << " 个步骤），录制已停止\n";

    const ScriptEncodeResult encoded = encodeScript(script, JsonStyle::pretty);
    if (!encoded) {
        std::cerr << "写入失败：" << encoded.error << "\n";
        return 1;
    }
    if (!writeFileAtomically(options->outPath, *encoded.json, error)) {
        std::cerr << "写入失败：" << error << "\n";
        return 1;
    }
    std::cout << "⏹ 结束录制，共 " << script.steps.size() << " 个步骤" << std::endl;
    return 0;
#endif
}

const CommandRegistration registration({
    "record",
    "record OUT.json [--mouse-moves] [--stop-key SHORTCUT]",
    "在 X 显示上录制鼠标键盘操作为新脚本，按停止热键（默认 f9，如 ctrl+shift+r）或 Ctrl+C 结束后写入 OUT.json",
    runRecord,
});

}  // namespace

}  // namespace tapforge::cli
