// Template search on a generated desktop (1920 x 1080, seeded): a wallpaper gradient, windows
// of flat panels with title bars, lines of text from a small glyph set, toolbar icons and
// buttons. Templates are cut from it (present) or from another desktop drawn with another seed
// (absent), and searched for on the whole screen and in the image check's 60-point margin.
// When OpenCV is installed, its matchTemplate (TM_CCOEFF_NORMED, full resolution, one thread)
// searches the same grey image in the same run, alternating with ours; a closing table reports
// both times, the ratio, and whether both found the same place. Also the stop latency of a
// search that is stopped from another thread.
#include "BenchMain.h"
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <optional>
#include <random>
#include <tuple>
#include <thread>
#include <vector>

#include "vision/ImageMatcher.h"
#include "vision/PixelBuffer.h"
#include "vision/Resize.h"
#include "vision/SearchPool.h"

#if TAPFORGE_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace tapforge;
using namespace tapforge::vision;

namespace {

constexpr int screenW = 1920, screenH = 1080;
constexpr double searchMarginPoints = 60;   // the image check's default margin

struct Painter {
    platform::RgbaImage img;
    std::mt19937 rng;

    explicit Painter(uint32_t seed) : rng(seed) {
        img.width = screenW;
        img.height = screenH;
        img.pixels.assign(size_t(screenW) * screenH * 4, 255);
    }
    int uni(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); }
    void put(int x, int y, int r, int g, int b) {
        if (x < 0 || y < 0 || x >= screenW || y >= screenH) return;
        uint8_t* p = img.pixels.data() + (size_t(y) * screenW + x) * 4;
        p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b);
    }
    void fill(int x0, int y0, int w, int h, int r, int g, int b) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) put(x, y, r, g, b);
    }
};

// Glyphs: 6 x 10 bitmaps of strokes, one set per desktop, as a font repeats its letters.
struct Font {
    std::vector<std::vector<uint8_t>> glyphs;
    explicit Font(std::mt19937& rng) {
        for (int k = 0; k < 60; ++k) {
            std::vector<uint8_t> g(60, 0);
            std::uniform_int_distribution<int> col(0, 5), row(1, 9), len(3, 8);
            for (int s = 0; s < 3; ++s) {
                const int x = col(rng), y = row(rng), l = len(rng);
                const bool vertical = (rng() & 1) != 0;
                for (int t = 0; t < l; ++t) {
                    const int gx = vertical ? x : std::min(x + t, 5), gy = vertical ? std::min(y + t - 2, 9) : y;
                    g[size_t(std::max(gy, 0)) * 6 + gx] = 1;
                }
            }
            glyphs.push_back(std::move(g));
        }
    }
};

void text(Painter& p, const Font& font, int x0, int y0, int width, int r, int g, int b) {
    int x = x0;
    while (x + 7 < x0 + width) {
        const int word = p.uni(2, 9);
        for (int k = 0; k < word && x + 7 < x0 + width; ++k, x += 7) {
            const std::vector<uint8_t>& glyph = font.glyphs[size_t(p.uni(0, 59))];
            for (int j = 0; j < 10; ++j)
                for (int i = 0; i < 6; ++i)
                    if (glyph[size_t(j) * 6 + i]) p.put(x + i, y0 + j, r, g, b);
        }
        x += 6;
    }
}

void icon(Painter& p, int x0, int y0, int size) {
    const int r = p.uni(0, 255), g = p.uni(0, 255), b = p.uni(0, 255);
    const int shape = p.uni(0, 2);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int dx = x - size / 2, dy = y - size / 2;
            const bool in = shape == 0 ? dx * dx + dy * dy < size * size / 5
                          : shape == 1 ? std::abs(dx) + std::abs(dy) < size / 2
                                       : (x > size / 5 && x < size * 4 / 5 && y > size / 5 && y < size * 4 / 5);
            if (in) p.put(x0 + x, y0 + y, r - (y * 40 / size), g, b);
            else if (x == y || x == size - 1 - y) p.put(x0 + x, y0 + y, 60, 60, 60);
        }
}

platform::RgbaImage makeDesktop(uint32_t seed) {
    Painter p(seed);
    Font font(p.rng);
    for (int y = 0; y < screenH; ++y)
        for (int x = 0; x < screenW; ++x) p.put(x, y, 30 + x * 50 / screenW, 70 + y * 60 / screenH, 120);
    // Windows: title bar with a label and buttons, a toolbar of icons, body text on a panel.
    for (int k = 0; k < 9; ++k) {
        const int w = p.uni(360, 900), h = p.uni(240, 620), x0 = p.uni(-100, screenW - 200), y0 = p.uni(0, screenH - 150);
        const int shade = p.uni(225, 248);
        p.fill(x0, y0, w, h, shade, shade, shade);
        p.fill(x0, y0, w, 28, 60, 64, 72);
        text(p, font, x0 + 10, y0 + 9, std::min(200, w - 80), 235, 235, 235);
        for (int b = 0; b < 3; ++b) icon(p, x0 + w - 26 - b * 24, y0 + 6, 16);
        for (int t = 0; t < w / 36 - 1; ++t) icon(p, x0 + 8 + t * 36, y0 + 36, 24);
        for (int line = y0 + 72; line + 12 < y0 + h - 40; line += 18) text(p, font, x0 + 12, line, w - 30, 20, 20, 28);
        // Two buttons with labels.
        for (int b = 0; b < 2; ++b) {
            const int bx = x0 + w - 180 + b * 86, by = y0 + h - 34;
            p.fill(bx, by, 78, 24, 70, 120, 210);
            text(p, font, bx + 10, by + 7, 60, 255, 255, 255);
        }
    }
    // Desktop icons down the left edge.
    for (int k = 0; k < 8; ++k) {
        icon(p, 24, 30 + k * 110, 48);
        text(p, font, 14, 84 + k * 110, 70, 250, 250, 250);
    }
    return std::move(p.img);
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

enum class Area { wholeScreen, margin };

struct Case {
    const char* name;
    int w, h;
    bool present;
    Area area;
};

// Template places are chosen on the desktop (not flat) by the fixture; sizes from an icon to a
// large panel part.
constexpr Case cases[] = {
    {"icon 16", 16, 16, true, Area::wholeScreen},   {"icon 16", 16, 16, false, Area::wholeScreen},
    {"word 40x12", 40, 12, true, Area::wholeScreen}, {"word 40x12", 40, 12, false, Area::wholeScreen},
    {"button 80x24", 80, 24, true, Area::wholeScreen}, {"button 80x24", 80, 24, false, Area::wholeScreen},
    {"panel 100x60", 100, 60, true, Area::wholeScreen}, {"panel 100x60", 100, 60, false, Area::wholeScreen},
    {"panel 300x200", 300, 200, true, Area::wholeScreen}, {"panel 300x200", 300, 200, false, Area::wholeScreen},
    {"icon 16", 16, 16, true, Area::margin},          {"icon 16", 16, 16, false, Area::margin},
    {"word 40x12", 40, 12, true, Area::margin},       {"word 40x12", 40, 12, false, Area::margin},
    {"button 80x24", 80, 24, true, Area::margin},     {"button 80x24", 80, 24, false, Area::margin},
    {"panel 100x60", 100, 60, true, Area::margin},    {"panel 100x60", 100, 60, false, Area::margin},
    {"panel 300x200", 300, 200, true, Area::margin},  {"panel 300x200", 300, 200, false, Area::margin},
};
constexpr size_t caseCount = std::size(cases);

struct Prepared {
    platform::RgbaImage templ;
    std::vector<float> templGray;
    int x = 0, y = 0;                    // where the template was cut (on its own desktop)
    std::optional<platform::Rect> area;  // search area in pixels, absent = whole screen
};

struct Fixture {
    platform::RgbaImage screenImage = makeDesktop(1234);
    platform::RgbaImage otherImage = makeDesktop(98765);
    ScreenSnapshot snapshot;
    std::vector<float> screenGray;
    std::vector<Prepared> prepared;

    // The busiest of 200 random places (most neighbours that differ), so the cut is something
    // a user would pick rather than a flat patch.
    static std::pair<int, int> busyPlace(const platform::RgbaImage& img, int w, int h, std::mt19937& rng) {
        std::uniform_int_distribution<int> px(0, screenW - w - 1), py(0, screenH - h - 1);
        std::pair<int, int> best{0, 0};
        int most = -1;
        for (int k = 0; k < 200; ++k) {
            const int x = px(rng), y = py(rng);
            int changes = 0;
            for (int j = 0; j < h; j += 2)
                for (int i = 1; i < w; i += 2)
                    changes += std::memcmp(img.pixel(x + i, y + j), img.pixel(x + i - 1, y + j), 3) != 0;
            if (changes > most) most = changes, best = {x, y};
        }
        return best;
    }

    Fixture() {
        snapshot.image = std::make_shared<const platform::RgbaImage>(screenImage);
        screenGray.resize(size_t(screenW) * screenH);
        grayFloats(screenImage.pixels.data(), screenGray.size(), screenGray.data());
        std::mt19937 rng(77);
        for (const Case& c : cases) {
            Prepared p;
            const platform::RgbaImage& source = c.present ? screenImage : otherImage;
            std::tie(p.x, p.y) = busyPlace(source, c.w, c.h, rng);
            p.templ = cut(source, p.x, p.y, c.w, c.h);
            p.templGray.resize(size_t(c.w) * c.h);
            grayFloats(p.templ.pixels.data(), p.templGray.size(), p.templGray.data());
            if (c.area == Area::margin) {
                // Absent: the margin around the place the template came from on the other desktop.
                p.area = platform::Rect{std::max(p.x - searchMarginPoints, 0.0), std::max(p.y - searchMarginPoints, 0.0),
                                        c.w + 2 * searchMarginPoints, c.h + 2 * searchMarginPoints};
            }
            prepared.push_back(std::move(p));
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

std::string caseLabel(const Case& c) {
    return std::string(c.name) + (c.present ? " present " : " absent ") + (c.area == Area::margin ? "margin" : "whole screen");
}

ImageMatchResult runFind(size_t i, const std::atomic<bool>* stop = nullptr) {
    Fixture& f = fixture();
    const Case& c = cases[i];
    return ImageMatcher::find(f.prepared[i].templ, {double(c.w), double(c.h)}, f.snapshot, f.prepared[i].area, 0.9, stop);
}

void BM_Find(benchmark::State& state) {
    SearchPool::shared().setMaxThreads(int(state.range(1)));
    const size_t i = size_t(state.range(0));
    ImageMatchResult r;
    for (auto _ : state) {
        r = runFind(i);
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(caseLabel(cases[i]) + (state.range(1) == 1 ? ", 1 thread" : ", all threads"));
    state.counters["score"] = r.score;
}
BENCHMARK(BM_Find)
    ->ArgsProduct({benchmark::CreateDenseRange(0, int(caseCount) - 1, 1), {1, 1 << 10}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

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

// Thread CPU time: the machine is shared, and wall time would mostly measure the neighbours.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double wallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// "12.3x", and enough digits for ratios far below 1.
std::string ratioText(double r) {
    char buf[32];
    std::snprintf(buf, sizeof buf, r >= 10 ? "%.0fx" : r >= 0.1 ? "%.2fx" : "%.3gx", r);
    return buf;
}

#if TAPFORGE_HAVE_OPENCV
struct CvHit {
    double score;
    int x, y;
};

CvHit runOpenCv(size_t i, cv::Mat& result) {
    Fixture& f = fixture();
    const Case& c = cases[i];
    cv::Mat screen(screenH, screenW, CV_32F, f.screenGray.data());
    cv::Mat templ(c.h, c.w, CV_32F, f.prepared[i].templGray.data());
    cv::Rect roi(0, 0, screenW, screenH);
    if (const auto& a = f.prepared[i].area) roi = cv::Rect(int(a->x), int(a->y), int(a->width), int(a->height)) & roi;
    cv::matchTemplate(screen(roi), templ, result, cv::TM_CCOEFF_NORMED);
    double maxVal = 0;
    cv::Point maxLoc;
    cv::minMaxLoc(result, nullptr, &maxVal, nullptr, &maxLoc);
    return {maxVal, maxLoc.x + roi.x, maxLoc.y + roi.y};
}
#endif

// From a stop request on another thread to find's return, during searches that run long: a
// large absent template (the FFT path) and a mid-sized one (the pruning scan), stopped at
// times spread over the whole search. The wall time counts the neighbours on a shared
// machine; the CPU time the searching thread spent after the request does not.
void printStopLatency() {
    SearchPool::shared().setMaxThreads(1 << 10);
    for (size_t i : {size_t(9), size_t(7)}) {
        runFind(i);   // the fixture and the search's buffers exist before the first stop
        std::vector<double> wall, cpu;
        clockid_t clock;
        pthread_getcpuclockid(pthread_self(), &clock);
        for (int k = 0; k < 60; ++k) {
            std::atomic<bool> stop{false};
            std::atomic<double> requestedAt{0}, cpuAt{0};
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(500 + k * 1700));
                timespec ts{};
                clock_gettime(clock, &ts);
                cpuAt = ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
                requestedAt = wallMs();
                stop = true;
            });
            runFind(i, &stop);
            const double returned = wallMs(), returnedCpu = threadCpuMs();
            stopper.join();
            if (requestedAt.load() > 0 && returned >= requestedAt.load()) {
                wall.push_back(returned - requestedAt.load());
                cpu.push_back(std::max(returnedCpu - cpuAt.load(), 0.0));
            }
        }
        std::sort(wall.begin(), wall.end());
        std::sort(cpu.begin(), cpu.end());
        if (wall.empty()) continue;
        auto p99 = [](const std::vector<double>& v) { return v[std::min(v.size() - 1, v.size() * 99 / 100)]; };
        std::printf("stop latency, %s (%zu stops): wall ms median %.2f, p99 %.2f, max %.2f; searching thread's CPU ms "
                    "median %.2f, p99 %.2f\n",
                    caseLabel(cases[i]).c_str(), wall.size(), wall[wall.size() / 2], p99(wall), wall.back(),
                    cpu[cpu.size() / 2], p99(cpu));
    }
}

void printComparison() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    printStopLatency();
    SearchPool& pool = SearchPool::shared();
    pool.setMaxThreads(1 << 10);
    const int cores = pool.maxThreads();
    std::printf("\nTemplate search, generated 1920x1080 desktop; find on 1 thread (thread CPU ms) and on all %d threads "
                "(wall ms);\nOpenCV matchTemplate TM_CCOEFF_NORMED, full resolution, 1 thread (thread CPU ms); medians, "
                "runs alternated\n",
                cores);
    std::printf("%-14s %-8s %-12s %9s %9s %10s %8s %8s  %s\n", "template", "present", "area", "find 1T", "find all",
                "opencv", "ratio", "score", "same place");
    std::vector<double> wholeRatios;
    for (size_t i = 0; i < caseCount; ++i) {
        const Case& c = cases[i];
        const bool whole = c.area == Area::wholeScreen;
        const int runs = whole ? 5 : 15;
        std::vector<double> ours, oursAll, theirs;
        ImageMatchResult r;
#if TAPFORGE_HAVE_OPENCV
        cv::setNumThreads(1);
        cv::Mat result;
        CvHit hit{};
#endif
        for (int k = 0; k < runs; ++k) {
            pool.setMaxThreads(1);
            double a = threadCpuMs();
            r = runFind(i);
            ours.push_back(threadCpuMs() - a);
#if TAPFORGE_HAVE_OPENCV
            a = threadCpuMs();
            hit = runOpenCv(i, result);
            theirs.push_back(threadCpuMs() - a);
#endif
            pool.setMaxThreads(cores);
            a = wallMs();
            runFind(i);
            oursAll.push_back(wallMs() - a);
        }
        const double mine = median(ours);
#if TAPFORGE_HAVE_OPENCV
        const double cv = median(theirs), ratio = cv / mine;
        if (whole) wholeRatios.push_back(ratio);
        const bool same = r.rect && std::lround(r.rect->x) == hit.x && std::lround(r.rect->y) == hit.y;
        std::printf("%-14s %-8s %-12s %9.3f %9.3f %10.3f %8s %8.5f  %s (ours %.0f,%.0f; opencv %d,%d, %.5f)\n", c.name,
                    c.present ? "yes" : "no", whole ? "whole screen" : "margin", mine, median(oursAll), cv,
                    ratioText(ratio).c_str(), r.score, same ? "yes" : "NO", r.rect ? r.rect->x : -1.0,
                    r.rect ? r.rect->y : -1.0, hit.x, hit.y, hit.score);
#else
        std::printf("%-14s %-8s %-12s %9.3f %9.3f %10s %8s %8.5f\n", c.name, c.present ? "yes" : "no",
                    whole ? "whole screen" : "margin", mine, median(oursAll), "-", "-", r.score);
#endif
    }
    if (!wholeRatios.empty())
        std::printf("whole screen, median ratio (OpenCV time / find 1 thread): %s\n", ratioText(median(wholeRatios)).c_str());
    pool.setMaxThreads(cores);
    std::printf("build flags: %s\n", TAPFORGE_BUILD_FLAGS);
}

}  // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv, printComparison); }
