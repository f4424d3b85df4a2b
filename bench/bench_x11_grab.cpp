// Grabs of a 1920 x 1080 Xvfb screen through the X11 backend: the whole screen with MIT-SHM
// and with plain XGetImage, a 24 x 24 region (a colour check's grab) both ways, and the
// BGRX -> RGBA conversion alone. Starts and stops its own Xvfb.
#include "BenchMain.h"
#include "BenchXvfb.h"
#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/PixelConvert.h"
#include "platform/x11/X11Desktop.h"

using namespace tapforge::platform;

namespace {

Xvfb& server() {
    static Xvfb xvfb;
    return xvfb;
}

Desktop& desktop(bool shm) {
    static std::optional<Desktop> withShm, without;
    std::optional<Desktop>& slot = shm ? withShm : without;
    if (!slot) {
        x11::X11Options options;
        options.display = server().display();
        options.useSharedMemory = shm;
        slot = x11::openX11Desktop(nullptr, nullptr, options);
    }
    return *slot;
}

void grab(benchmark::State& state, bool shm, Rect rect) {
    if (server().display().empty()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    Desktop& d = desktop(shm);
    RgbaImage out;
    if (!d.grab->grab(rect, out)) {
        state.SkipWithError("grab failed");
        return;
    }
    for (auto _ : state) {
        d.grab->grab(rect, out);
        benchmark::DoNotOptimize(out.pixels.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.pixels.size()));
}

void BM_GrabWholeScreenShm(benchmark::State& state) { grab(state, true, {0, 0, 1920, 1080}); }
void BM_GrabWholeScreenGetImage(benchmark::State& state) { grab(state, false, {0, 0, 1920, 1080}); }
void BM_Grab24x24Shm(benchmark::State& state) { grab(state, true, {88, 188, 24, 24}); }
void BM_Grab24x24GetImage(benchmark::State& state) { grab(state, false, {88, 188, 24, 24}); }

void BM_ConvertBgrxToRgba1920x1080(benchmark::State& state) {
    std::vector<uint8_t> source(1920 * 1080 * 4, 0x5A), dest(1920 * 1080 * 4);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7);
    for (auto _ : state) {
        x11::convertBgrxToRgba(source.data(), 1920 * 4, dest.data(), 1920 * 4, 1920, 1080);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(dest.size()));
}

}  // namespace

BENCHMARK(BM_GrabWholeScreenShm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabWholeScreenGetImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grab24x24Shm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Grab24x24GetImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertBgrxToRgba1920x1080)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
