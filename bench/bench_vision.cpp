// Template search on a textured 1920 x 1080 screen: whole-screen and margin searches of
// 100 x 60, 20 x 20 and 300 x 200 templates cut from it (and margin areas where the template is
// absent), single thread. When OpenCV is installed, its matchTemplate (TM_CCOEFF_NORMED, full
// resolution, one thread) runs on the same grey image in the same process, and a closing table
// reports both times (thread CPU), their ratio and whether both found the same place.
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "vision/ImageMatcher.h"
#include "vision/PixelBuffer.h"
#include "vision/Resize.h"

#if TAPFORGE_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace tapforge;
using namespace tapforge::vision;

namespace {

constexpr int screenW = 1920, screenH = 1080;
constexpr double searchMarginPoints = 60;   // the image check's default margin

// A desktop-like texture: overlapping flat panels and buttons, gradients, and small glyph-like
// speckles, so that a cut-out is unique but large areas are flat as on a real screen.
platform::RgbaImage makeScreen() {
    std::mt19937 rng(1234);
    platform::RgbaImage img;
    img.width = screenW;
    img.height = screenH;
    img.pixels.assign(size_t(screenW) * screenH * 4, 255);
    auto put = [&](int x, int y, int r, int g, int b) {
        uint8_t* p = img.pixels.data() + (size_t(y) * screenW + x) * 4;
        p[0] = uint8_t(r);
        p[1] = uint8_t(g);
        p[2] = uint8_t(b);
    };
    for (int y = 0; y < screenH; ++y)
        for (int x = 0; x < screenW; ++x) put(x, y, 40 + x * 60 / screenW, 60 + y * 50 / screenH, 90);
    std::uniform_int_distribution<int> px(0, screenW - 1), py(0, screenH - 1), sz(8, 260), col(0, 255);
    for (int k = 0; k < 900; ++k) {
        const int x0 = px(rng), y0 = py(rng), w = sz(rng), h = sz(rng) / 2 + 4;
        const int r = col(rng), g = col(rng), b = col(rng);
        for (int y = y0; y < std::min(y0 + h, screenH); ++y)
            for (int x = x0; x < std::min(x0 + w, screenW); ++x) put(x, y, r, g, b);
    }
    for (int k = 0; k < 60000; ++k) {
        const int x0 = px(rng), y0 = py(rng), v = col(rng);
        for (int y = y0; y < std::min(y0 + 3, screenH); ++y)
            for (int x = x0; x < std::min(x0 + 2, screenW); ++x) put(x, y, v, v, v);
    }
    return img;
}

platform::RgbaImage cut(const platform::RgbaImage& src, int x0, int y0, int w, int h) {
    platform::RgbaImage out;
    out.width = w;
    out.height = h;
    out.pixels.resize(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        std::copy_n(src.pixel(x0, y0 + y), size_t(w) * 4, out.pixels.data() + size_t(y) * w * 4);
    return out;
}

struct Case {
    const char* name;
    int x, y, w, h;   // where the template is cut from
};
constexpr Case cases[] = {
    {"100x60", 1210, 640, 100, 60},
    {"20x20", 333, 211, 20, 20},
    {"300x200", 700, 420, 300, 200},
};

struct Fixture {
    platform::RgbaImage screenImage = makeScreen();
    ScreenSnapshot snapshot;
    std::vector<platform::RgbaImage> templates;
    std::vector<float> screenGray;
    std::vector<std::vector<float>> templateGray;

    Fixture() {
        snapshot.image = std::make_shared<const platform::RgbaImage>(screenImage);
        screenGray.resize(size_t(screenW) * screenH);
        grayFloats(screenImage.pixels.data(), screenGray.size(), screenGray.data());
        for (const Case& c : cases) {
            templates.push_back(cut(screenImage, c.x, c.y, c.w, c.h));
            std::vector<float> g(size_t(c.w) * c.h);
            grayFloats(templates.back().pixels.data(), g.size(), g.data());
            templateGray.push_back(std::move(g));
        }
    }
    static platform::Rect marginRect(const Case& c) {
        return {c.x - searchMarginPoints, c.y - searchMarginPoints, c.w + 2 * searchMarginPoints, c.h + 2 * searchMarginPoints};
    }
};

std::optional<platform::Rect> searchArea(const Case& c, int margin) {
    if (margin == 0) return std::nullopt;
    platform::Rect area = Fixture::marginRect(c);
    if (margin == 2) area.x = area.x > 900 ? area.x - 600 : area.x + 600;
    return area;
}

const char* areaName(int margin) { return margin == 2 ? "margin,absent" : margin ? "margin" : "whole screen"; }

Fixture& fixture() {
    static Fixture f;
    return f;
}

// margin: 0 whole screen, 1 the margin around the template's place, 2 a margin area of the same
// size elsewhere (the template is absent: what a poll sees while it waits).
ImageMatchResult runFind(size_t i, int margin) {
    Fixture& f = fixture();
    const Case& c = cases[i];
    const std::optional<platform::Rect> area = searchArea(c, margin);
    return ImageMatcher::find(f.templates[i], {double(c.w), double(c.h)}, f.snapshot, area, 0.9);
}

void BM_Find(benchmark::State& state) {
    const size_t i = size_t(state.range(0));
    const int margin = int(state.range(1));
    ImageMatchResult r;
    for (auto _ : state) {
        r = runFind(i, margin);
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(std::string(cases[i].name) + " " + areaName(margin));
    state.counters["score"] = r.score;
    state.counters["x"] = r.rect ? r.rect->x : -1;
    state.counters["y"] = r.rect ? r.rect->y : -1;
}
BENCHMARK(BM_Find)->ArgsProduct({{0, 1, 2}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

void BM_GrayFloats(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<float> out(size_t(screenW) * screenH);
    for (auto _ : state) {
        grayFloats(f.screenImage.pixels.data(), out.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel("1920x1080");
}
BENCHMARK(BM_GrayFloats)->Unit(benchmark::kMicrosecond);

void BM_ResizeGray(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<float> out;
    for (auto _ : state) {
        resizeGray(f.screenGray.data(), screenW, screenH, screenW, 300, 169, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel("1920x1080 -> 300x169");
}
BENCHMARK(BM_ResizeGray)->Unit(benchmark::kMicrosecond);

#if TAPFORGE_HAVE_OPENCV
struct CvHit {
    double score;
    int x, y;
};

CvHit runOpenCv(size_t i, int margin, cv::Mat& result) {
    Fixture& f = fixture();
    const Case& c = cases[i];
    cv::Mat screen(screenH, screenW, CV_32F, f.screenGray.data());
    cv::Mat templ(c.h, c.w, CV_32F, f.templateGray[i].data());
    cv::Rect roi(0, 0, screenW, screenH);
    if (const auto m = searchArea(c, margin)) roi = cv::Rect(int(m->x), int(m->y), int(m->width), int(m->height)) & roi;
    cv::matchTemplate(screen(roi), templ, result, cv::TM_CCOEFF_NORMED);
    double maxVal = 0;
    cv::Point maxLoc;
    cv::minMaxLoc(result, nullptr, &maxVal, nullptr, &maxLoc);
    return {maxVal, maxLoc.x + roi.x, maxLoc.y + roi.y};
}

void BM_OpenCvMatchTemplate(benchmark::State& state) {
    cv::setNumThreads(1);
    const size_t i = size_t(state.range(0));
    const int margin = int(state.range(1));
    cv::Mat result;
    CvHit hit{};
    for (auto _ : state) {
        hit = runOpenCv(i, margin, result);
        benchmark::DoNotOptimize(hit);
    }
    state.SetLabel(std::string(cases[i].name) + " " + areaName(margin));
    state.counters["score"] = hit.score;
    state.counters["x"] = hit.x;
    state.counters["y"] = hit.y;
}
BENCHMARK(BM_OpenCvMatchTemplate)->ArgsProduct({{0, 1, 2}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
#endif

// Thread CPU time: the machine is shared, and wall time would mostly measure the neighbours.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

template <class F>
double medianMs(F&& f, int runs) {
    std::vector<double> t;
    for (int k = 0; k < runs; ++k) {
        const double a = threadCpuMs();
        f();
        t.push_back(threadCpuMs() - a);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void printComparison() {
    std::printf("\nTemplate search, 1920x1080 textured screen, single thread (median thread CPU time)\n");
    std::printf("%-8s %-13s %10s %12s %8s %8s  %s\n", "template", "area", "find ms", "opencv ms", "ratio", "score", "same place");
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (int margin = 0; margin < 3; ++margin) {
            ImageMatchResult r;
            const double ours = medianMs([&] { r = runFind(i, margin); }, 15);
#if TAPFORGE_HAVE_OPENCV
            cv::setNumThreads(1);
            cv::Mat result;
            CvHit hit{};
            const double theirs = medianMs([&] { hit = runOpenCv(i, margin, result); }, margin ? 15 : 5);
            const bool same = r.rect && std::lround(r.rect->x) == hit.x && std::lround(r.rect->y) == hit.y;
            std::printf("%-8s %-13s %10.3f %12.3f %7.1fx %8.5f  %s (ours %.0f,%.0f; opencv %d,%d)\n", cases[i].name,
                        areaName(margin), ours, theirs, theirs / ours, r.score, same ? "yes" : "NO",
                        r.rect ? r.rect->x : -1.0, r.rect ? r.rect->y : -1.0, hit.x, hit.y);
#else
            std::printf("%-8s %-13s %10.3f %12s %8s %8.5f  (ours %.0f,%.0f; expected %d,%d)\n", cases[i].name,
                        areaName(margin), ours, "-", "-", r.score, r.rect ? r.rect->x : -1.0,
                        r.rect ? r.rect->y : -1.0, cases[i].x, cases[i].y);
#endif
        }
    }
    std::printf("build flags: %s\n", TAPFORGE_BUILD_FLAGS);
}

}  // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv, printComparison); }
