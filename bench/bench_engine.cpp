// Stop latency of the script runner: from stop() on the main thread until the main thread sees
// the run ended.
//  - stopLatency, on the real clock, while the worker is in a long delay, a colour poll or an
//    image poll (whole 1920 x 1080 screen, template never found);
//  - busyRun, for a run that loops without waiting (a goto loop, a key step without a key that
//    logs on every pass, a 1 ms delay loop), on the real clock and on the dry-run clock of
//    `play --sim`; it also reports the main thread's worst task latency, measured by a probe
//    thread that posts a time-stamped task every millisecond (a timer of the main thread).
// Each iteration starts a run, lets it go on for a random while, stops it and times the end.
// The distributions are reported as counters (milliseconds).
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "engine/MainLoop.h"
#include "engine/ScriptRunner.h"
#include "platform/sim/SimDesktop.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace {

using namespace tapforge;
using Clock = std::chrono::steady_clock;

platform::RgbaImage textured(int w, int h, uint32_t seed) {
    platform::RgbaImage image{w, h, std::vector<uint8_t>(size_t(w) * h * 4)};
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        const uint32_t v = random();
        image.pixels[i] = uint8_t(v), image.pixels[i + 1] = uint8_t(v >> 8), image.pixels[i + 2] = uint8_t(v >> 16);
        image.pixels[i + 3] = 255;
    }
    return image;
}

Step waitingStep(int kind) {
    if (kind == 0) {
        Step s(StepKind::delay);
        s.delayMs = 3'600'000;
        return s;
    }
    if (kind == 1) {
        Step s(StepKind::colorCheck);
        ColorPoint p;
        p.x = 100, p.y = 100, p.red = 1, p.green = 2, p.blue = 3, p.tolerance = 0;
        s.colorPoints = {p};
        s.timeoutMs = 3'600'000;
        s.pollMs = 30;
        return s;
    }
    Step s(StepKind::imageCheck);
    ImageTemplate t;
    const platform::RgbaImage patch = textured(100, 60, 7);
    t.widthPoints = 100, t.heightPoints = 60, t.originX = 400, t.originY = 300;
    t.pngBase64 = vision::encodeBase64(*vision::PngCodec::encode(patch));
    s.imageTemplate = t;
    s.searchFullScreen = true;
    s.timeoutMs = 3'600'000;
    s.pollMs = 50;
    return s;
}

void stopLatency(benchmark::State& state) {
    const int kind = int(state.range(0));
    auto sim = platform::sim::SimDesktop::create();
    sim->addScreen({0, 0, 1920, 1080}, 1.0, textured(1920, 1080, 1));
    platform::Desktop desktop = sim->desktop();
    desktop.clock = std::make_shared<platform::SystemClock>();
    MainLoop loop;
    ScriptRunner runner(ScriptRunnerServices{desktop, loop.poster(), nullptr, {}});
    Script script;
    script.steps = {waitingStep(kind)};
    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(60, 140);
    std::vector<double> latencies;
    for (auto _ : state) {
        runner.start(script, std::nullopt);
        loop.runUntil([] { return false; }, std::chrono::milliseconds(phase(random)));
        const auto before = Clock::now();
        runner.stop();
        loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::seconds(10), {}, std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(Clock::now() - before).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds * 1000);
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]; };
    state.counters["p50_ms"] = at(0.5);
    state.counters["p90_ms"] = at(0.9);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.back();
    state.counters["min_ms"] = latencies.front();
}

// 0: goto loop; 1: a keyless key step (one log line per pass) and a goto; 2: a 1 ms delay and a goto.
Script busyScript(int kind) {
    Step gotoFirst(StepKind::goTo);
    Step first(kind == 0 ? StepKind::comment : kind == 1 ? StepKind::keyPress : StepKind::delay);
    first.delayMs = 1;
    gotoFirst.gotoStepID = first.id;
    Script script;
    script.steps = {first, gotoFirst};
    script.loopCount = 0;
    return script;
}

void busyRun(benchmark::State& state) {
    const int kind = int(state.range(0));
    const bool dryRun = state.range(1) == 1;
    auto sim = platform::sim::SimDesktop::create();
    sim->addScreen({0, 0, 800, 600}, 1.0, {255, 255, 255, 255});
    platform::Desktop desktop = sim->desktop();
    if (dryRun) {
        desktop.clock = std::make_shared<platform::sim::SimClock>(platform::sim::SimClock::Mode::dryRun);
    } else {
        desktop.clock = std::make_shared<platform::SystemClock>();
    }
    MainLoop loop;
    ScriptRunner runner(ScriptRunnerServices{desktop, loop.poster(), nullptr, {}});
    size_t lines = 0;
    runner.onLog = [&](const std::string&) { ++lines; };
    const Script script = busyScript(kind);

    std::atomic<bool> probing{true};
    double worstTaskMs = 0;   // main thread only
    std::thread probe([&, post = loop.poster()] {
        while (probing.load()) {
            const auto posted = Clock::now();
            post([&, posted] { worstTaskMs = std::max(worstTaskMs, std::chrono::duration<double, std::milli>(Clock::now() - posted).count()); });
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(60, 140);
    std::vector<double> latencies;
    for (auto _ : state) {
        runner.start(script, std::nullopt);
        loop.runUntil([] { return false; }, std::chrono::milliseconds(phase(random)));
        const auto before = Clock::now();
        runner.stop();
        loop.runUntil([&] { return !runner.isRunning(); }, std::chrono::seconds(60), {}, std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(Clock::now() - before).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds * 1000);
        loop.drain();
    }
    probing = false;
    probe.join();
    loop.drain();
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]; };
    state.counters["p50_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.back();
    state.counters["worst_task_ms"] = worstTaskMs;
    state.counters["lines"] = double(lines);
}

}  // namespace

BENCHMARK(busyRun)->ArgNames({"goto0_log1_delay2", "dryrun"})->ArgsProduct({{0, 1, 2}, {0, 1}})->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(stopLatency)->ArgName("delay0_colour1_image2")->DenseRange(0, 2)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
