// Script file coding speed: a 2 000-step script with 50 templates of 64 KiB PNG-sized Base64
// data, and a ~10 MB document of ordinary steps (the size a long recording reaches).
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "model/ScriptJson.h"

namespace {

using namespace tapforge;

// Base64 text of `bytes` pseudo-random bytes behind a PNG signature: incompressible like PNG.
std::string pngishBase64(size_t bytes, uint32_t seed) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(seed);
    std::string out = "iVBORw0KGgoAAAANSUhEUgAA";
    const size_t chars = (bytes + 2) / 3 * 4;
    while (out.size() < chars) out += alphabet[random() % 64];
    return out;
}

// Every kind in turn, with non-default values so that every key carries data.
Step makeStep(size_t i, const std::vector<ImageTemplate>& templates, const std::vector<Step>& earlier) {
    const StepKind kind = allCases<StepKind>()[i % 11];
    Step s = Step::create(kind, GlobalPoint{100.5 + i % 1700, 50.25 + i % 900});
    s.note = i % 5 == 0 ? "第 " + std::to_string(i) + " 步的说明" : "";
    s.delayMs = 100 + static_cast<int64_t>(i % 900);
    s.scrollAmount = static_cast<int64_t>(i % 7) - 3;
    s.keyCode = static_cast<uint16_t>(i % 50);
    s.modifiers = ModifierSet{static_cast<int64_t>(i % 32)};
    s.text = kind == StepKind::typeText ? "hello world 你好世界 " + std::to_string(i) : "";
    if (kind == StepKind::colorCheck) {
        for (int k = 0; k < 3; ++k) {
            ColorPoint p;
            p.x = 10.0 * k + static_cast<double>(i % 300), p.y = 20.5, p.red = k * 80, p.green = 17, p.blue = 200;
            s.colorPoints.push_back(p);
        }
    }
    if (kind == StepKind::imageCheck && !templates.empty()) s.imageTemplate = templates[i / 11 % templates.size()];
    s.threshold = 0.8 + static_cast<double>(i % 10) / 100;
    s.luaFile = kind == StepKind::lua ? "scripts/task" + std::to_string(i) + ".lua" : "";
    if (!earlier.empty()) {
        s.gotoStepID = earlier[i % earlier.size()].id;
        s.onFailure.kind = BranchKind::click;
        s.onFailure.clickX = 500, s.onFailure.clickY = 300.5;
        s.onFailure.afterAction = AfterAction::jump;
        s.onFailure.afterStepID = earlier[(i * 7) % earlier.size()].id;
    }
    return s;
}

Script makeScript(size_t steps, size_t templates, size_t templateBytes) {
    Script script;
    script.name = "基准脚本";
    for (size_t t = 0; t < templates; ++t) {
        ImageTemplate tpl;
        tpl.name = "模板" + std::to_string(t);
        tpl.widthPoints = 120, tpl.heightPoints = 80, tpl.originX = 10.5 * t, tpl.originY = 300, tpl.pixelScale = 2;
        tpl.pngBase64 = pngishBase64(templateBytes, static_cast<uint32_t>(t));
        script.templates.push_back(std::move(tpl));
    }
    for (size_t i = 0; i < steps; ++i) script.steps.push_back(makeStep(i, script.templates, script.steps));
    return script;
}

const Script& templateScript() {
    static const Script s = makeScript(2000, 50, 64 * 1024);
    return s;
}

// About 10 MB pretty-printed, made of steps only (the slowest content per byte to decode).
const Script& largeStepScript() {
    static const Script s = makeScript(7100, 0, 0);
    return s;
}

const std::string& encoded(const Script& s, JsonStyle style) {
    static std::string pretty[2], compact[2];
    std::string& slot = (style == JsonStyle::pretty ? pretty : compact)[&s == &templateScript() ? 0 : 1];
    if (slot.empty()) slot = *encodeScript(s, style).json;
    return slot;
}

void report(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["doc_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_EncodeTemplates(benchmark::State& state) {
    const JsonStyle style = state.range(0) ? JsonStyle::compact : JsonStyle::pretty;
    size_t bytes = 0;
    for (auto _ : state) {
        ScriptEncodeResult r = encodeScript(templateScript(), style);
        bytes = r.json->size();
        benchmark::DoNotOptimize(r);
    }
    report(state, bytes);
}

void BM_DecodeTemplates(benchmark::State& state) {
    const std::string& json = encoded(templateScript(), state.range(0) ? JsonStyle::compact : JsonStyle::pretty);
    for (auto _ : state) {
        ScriptDecodeResult r = decodeScript(json);
        if (!r) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r);
    }
    report(state, json.size());
}

void BM_Decode10MBSteps(benchmark::State& state) {
    const std::string& json = encoded(largeStepScript(), JsonStyle::pretty);
    for (auto _ : state) {
        ScriptDecodeResult r = decodeScript(json);
        if (!r) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r);
    }
    report(state, json.size());
}

void BM_Encode10MBSteps(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        ScriptEncodeResult r = encodeScript(largeStepScript(), JsonStyle::pretty);
        bytes = r.json->size();
        benchmark::DoNotOptimize(r);
    }
    report(state, bytes);
}

BENCHMARK(BM_EncodeTemplates)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTemplates)->Arg(0)->Arg(1)->ArgName("compact")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode10MBSteps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode10MBSteps)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
