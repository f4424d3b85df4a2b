#include "model/BranchTarget.h"

#include <cstdio>

#include "input/keymap/KeyMap.h"
#include "model/Hashing.h"
#include "model/Step.h"

namespace tapforge {

namespace {

std::string clickCountText(int64_t count) { return count < 2 ? "单击" : "双击"; }

std::string afterText(const BranchTarget& b, const std::vector<Step>& steps) {
    switch (b.afterAction) {
        case AfterAction::next: return "继续下一步";
        case AfterAction::jump: return "跳转 → " + BranchTarget::stepDisplay(b.afterStepID, steps);
        case AfterAction::restart: return "重新开始";
        case AfterAction::stop: return "停止脚本";
    }
    return {};
}

std::string pointText(double x, double y) {
    char buffer[800];   // %.0f of the largest doubles
    std::snprintf(buffer, sizeof buffer, "(%.0f, %.0f)", x, y);
    return buffer;
}

}  // namespace

std::string BranchTarget::display(const std::vector<Step>& steps) const {
    switch (kind) {
        case Kind::click:
            return std::string(label(clickButton)) + clickCountText(clickCount) + " " +
                   (clickHasPoint ? pointText(clickX, clickY) : "(当前位置)") + " → " + afterText(*this, steps);
        case Kind::clickRegion:
            return std::string(label(clickButton)) + clickCountText(clickCount) + " 识别范围内随机点 → " +
                   afterText(*this, steps);
        case Kind::key:
            if (!keyCode) return "按键（未设置）→ " + afterText(*this, steps);
            return "按键 " + keyModifiers.symbols() + KeyMap::name(*keyCode) + " → " + afterText(*this, steps);
        case Kind::next: return "继续下一步";
        case Kind::jump: return "跳转 → " + stepDisplay(targetStepID, steps);
        case Kind::restart: return "重新开始";
        case Kind::stop: return "停止脚本";
    }
    return {};
}

std::string BranchTarget::stepDisplay(const std::optional<Uuid>& id, const std::vector<Step>& steps) {
    if (!id) return "(未选择)";
    for (size_t i = 0; i < steps.size(); ++i)
        if (steps[i].id == *id) return "第 " + std::to_string(i + 1) + " 步：" + steps[i].summary();
    return "(目标步骤已删除)";
}

}  // namespace tapforge

size_t std::hash<tapforge::BranchTarget>::operator()(const tapforge::BranchTarget& b) const noexcept {
    tapforge::detail::Hasher h;
    h.add(b.kind);
    h.add(b.targetStepID);
    h.add(b.clickX);
    h.add(b.clickY);
    h.add(b.clickHasPoint);
    h.add(b.clickButton);
    h.add(b.clickCount);
    h.add(b.keyCode);
    h.add(b.keyModifiers.rawValue);
    h.add(b.afterAction);
    h.add(b.afterStepID);
    return h.value();
}
