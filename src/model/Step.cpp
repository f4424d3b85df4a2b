#include "model/Step.h"

#include <cmath>

#include "input/keymap/KeyMap.h"
#include "model/Hashing.h"
#include "model/TextFormat.h"

namespace tapforge {

namespace {

std::string positionText(const Step& s) {
    if (!s.hasPoint) return "(当前位置)";
    std::string out = "(";
    out += detail::truncatedInteger(s.x);
    out += ", ";
    out += detail::truncatedInteger(s.y);
    out += ')';
    return out;
}

// The last component of a path, ignoring trailing slashes ("/a/b/" gives "b", "/" stays "/").
std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return path;
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string magnitudeText(int64_t v) {
    // The magnitude of INT64_MIN does not fit in int64_t.
    const uint64_t m = v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    return std::to_string(m);
}

}  // namespace

Step Step::create(StepKind kind, std::optional<GlobalPoint> pointer) {
    Step s(kind);
    switch (kind) {
        case StepKind::lua:
            s.timeoutMs = 0;
            break;
        case StepKind::mouseClick:
        case StepKind::mouseMove: {
            const GlobalPoint p = pointer.value_or(GlobalPoint{});
            s.hasPoint = true;
            s.x = p.x;
            s.y = p.y;
            break;
        }
        default:
            break;
    }
    return s;
}

std::string Step::title() const { return std::string(label(kind)); }

std::string Step::summary() const {
    switch (kind) {
        case StepKind::delay: return "延迟 " + std::to_string(delayMs) + " ms";
        case StepKind::mouseClick:
            return std::string(label(mouseButton)) + std::string(label(clickKind)) + " " + positionText(*this);
        case StepKind::mouseMove:
            return "移动到 " + positionText(*this) + " 用时 " + std::to_string(moveDurationMs) + "ms";
        case StepKind::mouseScroll:
            return std::string("滚轮 ") + (scrollAmount > 0 ? "向上" : "向下") + " " + magnitudeText(scrollAmount) + " 格";
        case StepKind::keyPress:
            if (!keyCode) return "未设置按键";
            return "按键 " + modifiers.symbols() + KeyMap::name(*keyCode) + " · " + std::string(label(keyKind));
        case StepKind::typeText: return "输入文本「" + std::string(detail::leadingCharacters(text, 20)) + "」";
        case StepKind::colorCheck: {
            size_t enabledPoints = 0;
            for (const ColorPoint& p : colorPoints) enabledPoints += p.enabled ? 1 : 0;
            return "颜色判断 · " + std::to_string(enabledPoints) + " 个点 · " + std::string(label(colorMode));
        }
        case StepKind::imageCheck:
            if (!imageTemplate || imageTemplate->pngBase64.empty()) return "图像判断 · 未选择图片";
            return "图像判断 · " + imageTemplate->name + " · 相似度 ≥ " + detail::truncatedInteger(threshold * 100) + "%";
        case StepKind::lua:
            if (luaFile.empty()) return "Lua 脚本 · 未选择文件";
            return "Lua 脚本 · " + std::string(lastPathComponent(luaFile));
        case StepKind::goTo: return "跳转到指定步骤";
        case StepKind::comment: return note.empty() ? "注释" : note;
    }
    return {};
}

std::optional<std::string> Step::branchSummary(const std::vector<Step>& steps) const {
    if (kind != StepKind::colorCheck && kind != StepKind::imageCheck && kind != StepKind::lua) return std::nullopt;
    return "成功: " + onSuccess.display(steps) + " ／ 失败: " + onFailure.display(steps);
}

}  // namespace tapforge

size_t std::hash<tapforge::Step>::operator()(const tapforge::Step& s) const noexcept {
    tapforge::detail::Hasher h;
    h.addHashed(s.id);
    h.add(s.kind);
    h.add(s.enabled);
    h.add(s.note);
    h.add(s.delayMs);
    h.add(s.x);
    h.add(s.y);
    h.add(s.hasPoint);
    h.add(s.mouseButton);
    h.add(s.clickKind);
    h.add(s.moveDurationMs);
    h.add(s.scrollAmount);
    h.add(s.keyCode);
    h.add(s.keyKind);
    h.add(s.modifiers.rawValue);
    h.add(s.text);
    h.add(s.colorPoints);
    h.add(s.colorMode);
    h.add(s.imageTemplate);
    h.add(s.threshold);
    h.add(s.searchFullScreen);
    h.add(s.searchMargin);
    h.add(s.clickOnMatch);
    h.add(s.waitForCondition);
    h.add(s.timeoutMs);
    h.add(s.pollMs);
    h.add(s.gotoStepID);
    h.addHashed(s.onSuccess);
    h.addHashed(s.onFailure);
    h.add(s.luaFile);
    return h.value();
}
