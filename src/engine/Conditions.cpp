// Colour and image conditions and branch resolution, on the runner's worker thread.
#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/RunWorker.h"
#include "input/keymap/KeyMap.h"
#include "vision/ColorMatcher.h"
#include "vision/ImageMatcher.h"
#include "vision/ScreenCapture.h"
#include "vision/TemplateCache.h"

namespace tapforge {

namespace {

constexpr double kColorCaptureMargin = 12.0;
constexpr int64_t kMinColorPollMs = 30;
constexpr int64_t kMinImagePollMs = 50;

// now + ms in microseconds, saturating instead of overflowing for absurd time-outs.
int64_t deadlineMicros(int64_t nowMicros, int64_t timeoutMs) {
    const int64_t ms = std::max<int64_t>(timeoutMs, 0);
    const int64_t room = std::numeric_limits<int64_t>::max() - nowMicros;
    if (ms > room / 1000) return std::numeric_limits<int64_t>::max();
    return nowMicros + ms * 1000;
}

std::string pointText(double x, double y) {
    std::string text = "(";
    text.append(formatFixed(x, 0)).append(", ").append(formatFixed(y, 0)).append(")");
    return text;
}

std::string clickWords(const BranchTarget& branch) {
    return std::string(label(branch.clickButton)) + (branch.clickCount < 2 ? "单击" : "双击");
}

}  // namespace

bool ScriptRunner::Worker::colorCheck(const Step& step) {
    std::vector<ColorPoint> points;
    for (const ColorPoint& p : step.colorPoints)
        if (p.enabled) points.push_back(p);
    if (points.empty()) {
        emit("⚠️ 颜色判断没有可用的颜色点");
        return false;
    }

    vision::ScreenCapture& capture = shared_->capture;
    const int64_t deadline = deadlineMicros(clock_.nowMicros(), step.timeoutMs);
    std::string details;
    while (!stopRequested()) {
        if (auto snapshot = capture.capture(points, kColorCaptureMargin)) {
            const vision::ColorCheckResult result = vision::ColorMatcher::check(points, step.colorMode, *snapshot);
            details = result.description();
            if (result.matched) {
                emit("✔︎ 颜色判断通过 " + details);
                return true;
            }
        }
        if (!step.waitForCondition || clock_.nowMicros() >= deadline) break;
        if (!interruptibleWait(std::max(step.pollMs, kMinColorPollMs)) || stopRequested()) break;
    }
    emit("✘ 颜色判断未通过 " + details);
    return false;
}

bool ScriptRunner::Worker::evaluateImage(const Step& step) {
    vision::SharedImage image;
    if (step.imageTemplate) image = vision::TemplateCache::shared().image(*step.imageTemplate);
    if (!image) {
        emit("⚠️ 图像判断没有设置图片");
        return false;
    }
    const ImageTemplate& templ = *step.imageTemplate;

    vision::ScreenCapture& capture = shared_->capture;
    const int64_t deadline = deadlineMicros(clock_.nowMicros(), step.timeoutMs);
    lastImageMatchRect_.reset();
    double score = 0;
    while (!stopRequested()) {
        if (auto snapshot = capture.grabMainDisplay()) {
            std::optional<platform::Rect> area;
            if (!step.searchFullScreen) {
                const double m = step.searchMargin, s = snapshot->scale;
                area = platform::Rect{(templ.originX - m - snapshot->origin.x) * s,
                                      (templ.originY - m - snapshot->origin.y) * s,
                                      (templ.widthPoints + 2 * m) * s, (templ.heightPoints + 2 * m) * s};
            }
            // The stop reaches the search itself: one search of a big area can outlast a wait slice.
            const vision::ImageMatchResult match = vision::ImageMatcher::find(
                *image, {templ.widthPoints, templ.heightPoints}, *snapshot, area, step.threshold, &shared_->stopRequested);
            if (stopRequested()) break;   // a cut-short search says nothing; the last full poll's score stands
            score = match.score;
            if (match.matched) {
                lastImageMatchRect_ = match.rect;
                emit("✔︎ 图像比对成功，相似度 " + formatFixed(score * 100, 1) + "%");
                if (step.clickOnMatch && match.center) {
                    emit("   点击匹配位置 " + pointText(match.center->x, match.center->y));
                    player_->click(MouseButton::left, ClickKind::click, *match.center, {});
                }
                return true;
            }
        }
        if (!step.waitForCondition || clock_.nowMicros() >= deadline) break;
        if (!interruptibleWait(std::max(step.pollMs, kMinImagePollMs)) || stopRequested()) break;
    }
    emit("✘ 图像比对失败，最高相似度 " + formatFixed(score * 100, 1) + "%");
    return false;
}

double ScriptRunner::Worker::uniform(double low, double high) {
    double value;
    if (shared_->services.uniform) {
        value = shared_->services.uniform(low, high);
    } else {
        if (!randomSeeded_) {
            std::random_device device;
            random_.seed((uint64_t(device()) << 32) ^ device());
            randomSeeded_ = true;
        }
        // The distribution is half-open; widening by one ulp makes `high` reachable.
        std::uniform_real_distribution<double> distribution(low, std::nextafter(high, std::numeric_limits<double>::infinity()));
        value = distribution(random_);
    }
    return std::clamp(value, low, high);
}

void ScriptRunner::Worker::branchClick(const BranchTarget& branch, platform::Point at) {
    player_->click(branch.clickButton, branch.clickCount > 1 ? ClickKind::doubleClick : ClickKind::click, at, {});
    // A huge click count must not outlast a stop request.
    for (int64_t i = 2; i < branch.clickCount && !stopRequested(); ++i)
        player_->click(branch.clickButton, ClickKind::click, at, {});
}

size_t ScriptRunner::Worker::jumpIndex(const std::optional<Uuid>& target, size_t pc) {
    if (!target) {
        emit("⚠️ 未选择跳转目标步骤，继续执行下一步");
        return pc + 1;
    }
    for (size_t i = 0; i < script_.steps.size(); ++i)
        if (script_.steps[i].id == *target) return i;
    emit("⚠️ 跳转目标步骤已被删除，继续执行下一步");
    return pc + 1;
}

std::optional<size_t> ScriptRunner::Worker::resolve(const BranchTarget& branch, size_t pc) {
    switch (branch.kind) {
        case BranchKind::next:
            return pc + 1;
        case BranchKind::jump:
            return jumpIndex(branch.targetStepID, pc);
        case BranchKind::restart:
            return 0;
        case BranchKind::stop:
            return std::nullopt;
        case BranchKind::click: {
            const platform::Point at =
                branch.clickHasPoint ? platform::Point{branch.clickX, branch.clickY} : player_->position();
            emit("🖱 分支动作：" + clickWords(branch) + " " + pointText(at.x, at.y));
            branchClick(branch, at);
            break;
        }
        case BranchKind::clickRegion: {
            const auto& rect = lastImageMatchRect_;
            if (rect && rect->width >= 1 && rect->height >= 1) {
                const platform::Point at{rect->minX() + uniform(0, rect->width),
                                         rect->minY() + uniform(0, rect->height)};
                emit("🖱 分支动作：" + clickWords(branch) + " 识别范围随机点 " + pointText(at.x, at.y) + "，区域 " +
                     pointText(rect->minX(), rect->minY()) + " " + formatFixed(rect->width, 0) + "×" +
                     formatFixed(rect->height, 0));
                branchClick(branch, at);
            } else {
                emit("⚠️ 分支动作：本次图像判断没有匹配到区域，按后续去向继续");
            }
            break;
        }
        case BranchKind::key:
            if (!branch.keyCode) {
                emit("⚠️ 分支动作没有设置按键，按后续去向继续");
            } else {
                emit("⌨️ 分支动作：按键 " + branch.keyModifiers.symbols() + KeyMap::name(*branch.keyCode));
                player_->key(*branch.keyCode, KeyEventKind::press, branch.keyModifiers);
            }
            break;
    }
    switch (branch.afterAction) {
        case AfterAction::next:
            return pc + 1;
        case AfterAction::jump:
            return jumpIndex(branch.afterStepID, pc);
        case AfterAction::restart:
            return 0;
        case AfterAction::stop:
            return std::nullopt;
    }
    return pc + 1;
}

}  // namespace tapforge
