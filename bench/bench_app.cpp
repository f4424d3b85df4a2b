// How long the main thread is blocked by the controller's document operations on a 10 MB,
// 7 000-step script: opening it (read, decode, replace, undo snapshot), one edit of a step's
// note, one undo, and the autosave's part on the main thread (a copy of the document handed to
// the writer thread, which encodes, writes and syncs; that is waited for outside the timing).
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include "app/AppState.h"
#include "app/FileAccess.h"
#include "model/ScriptJson.h"
#include "platform/sim/SimDesktop.h"

namespace {

using namespace tapforge;
using namespace tapforge::app;

struct OnePanel final : FilePanels {
    std::string path;
    std::optional<std::string> chooseSaveLocation(const std::string&, const std::string&) override { return path; }
    std::optional<std::string> chooseOpenLocation(const std::string&, FileKind, const std::string&) override { return path; }
};

// 7 000 steps: notes and texts on every step, a small template on every tenth (a 10 MB file, pretty-printed).
Script largeScript() {
    Script script;
    script.name = "large";
    const std::string png(1'400, 'A');
    for (int i = 0; i < 7000; ++i) {
        Step s(i % 10 == 0 ? StepKind::imageCheck : StepKind::typeText);
        s.note = "step " + std::to_string(i) + " with a short note for the list";
        s.text = std::string(64, 'x');
        if (i % 10 == 0) s.imageTemplate = ImageTemplate{"模板", 100, 50, 10, 20, 1.0, png};
        script.steps.push_back(std::move(s));
    }
    return script;
}

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<VirtualTimers> timers = std::make_shared<VirtualTimers>();
    std::shared_ptr<OnePanel> panels = std::make_shared<OnePanel>();
    std::unique_ptr<AppState> state;

    Fixture() {
        const std::string file = dir.filePath("large.json").toStdString();
        const std::string json = *encodeScript(largeScript(), JsonStyle::pretty).json;
        writeFileAtomically(file, json);
        panels->path = file;
        AppStateServices services;
        services.desktop = platform::sim::SimDesktop::create()->desktop();
        services.ui.filePanels = panels;
        services.locations = {dir.filePath("data").toStdString(), dir.filePath("settings.conf").toStdString()};
        services.timers = timers;
        state = std::make_unique<AppState>(std::move(services));
        settle();
    }
    void settle() {
        timers->advance(AppState::kAutosaveDelayMs);
        state->flushAutosave();
        QCoreApplication::processEvents();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void reportSize(benchmark::State& s) {
    s.counters["steps"] = double(fixture().state->script().steps.size());
    s.counters["file_MB"] = double(QFileInfo(QString::fromStdString(fixture().panels->path)).size()) / 1e6;
}

// Manual time: the openScript() call plus the event-loop turn that applies the decoded document.
void BM_Open(benchmark::State& s) {
    Fixture& f = fixture();
    using Clock = std::chrono::steady_clock;
    for (auto _ : s) {
        auto t0 = Clock::now();
        f.state->openScript();
        Clock::duration blocked = Clock::now() - t0;
        while (f.state->isOpening()) {
            t0 = Clock::now();
            QCoreApplication::processEvents();
            if (!f.state->isOpening()) blocked += Clock::now() - t0;
            else QThread::usleep(200);
        }
        s.SetIterationTime(std::chrono::duration<double>(blocked).count());
        f.settle();
    }
    reportSize(s);
}

void BM_EditOneStep(benchmark::State& s) {
    Fixture& f = fixture();
    const Uuid id = f.state->script().steps[3500].id;
    int n = 0;
    for (auto _ : s) {
        Step step = f.state->step(id);
        step.note = "edited " + std::to_string(++n);
        f.state->writeStep(id, step);   // no merge key: each is its own undo step
        s.PauseTiming();
        f.settle();
        s.ResumeTiming();
    }
    reportSize(s);
}

void BM_Undo(benchmark::State& s) {
    Fixture& f = fixture();
    const Uuid id = f.state->script().steps[3500].id;
    for (auto _ : s) {
        s.PauseTiming();
        Step step = f.state->step(id);
        step.note += "!";
        f.state->writeStep(id, step);
        f.settle();
        s.ResumeTiming();
        f.state->undo();
        s.PauseTiming();
        f.settle();
        s.ResumeTiming();
    }
    reportSize(s);
}

void BM_AutosaveMainThread(benchmark::State& s) {
    Fixture& f = fixture();
    for (auto _ : s) {
        s.PauseTiming();
        f.state->setLoopCount(f.state->script().loopCount + 1);
        s.ResumeTiming();
        f.timers->advance(AppState::kAutosaveDelayMs);   // encode + hand-off to the writer
        s.PauseTiming();
        f.state->flushAutosave();
        QCoreApplication::processEvents();
        s.ResumeTiming();
    }
    reportSize(s);
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK(BM_EditOneStep)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Undo)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AutosaveMainThread)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
