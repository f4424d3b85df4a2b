// The script's enumerations. Each case has a string raw value (its JSON form) and, where the
// user sees it, a Chinese label. allCases<E>() lists the cases in their offering order.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tapforge {

enum class StepKind { delay, mouseClick, mouseMove, mouseScroll, keyPress, typeText, colorCheck, imageCheck, lua, goTo, comment };
enum class MouseButton { left, right, center };
enum class ClickKind { click, doubleClick, down, up };
enum class KeyEventKind { press, down, up };
enum class MatchMode { all, any };
enum class BranchKind { click, clickRegion, key, next, jump, restart, stop };
enum class AfterAction { next, jump, restart, stop };

template <class E>
struct EnumCase {
    E value;
    std::string_view raw;
    std::string_view label;
};

// The case table of each enumeration, in offering order.
template <class E>
struct EnumTable;

template <>
struct EnumTable<StepKind> {
    static constexpr std::array<EnumCase<StepKind>, 11> cases{{
        {StepKind::delay, "delay", "延迟"},
        {StepKind::mouseClick, "mouseClick", "鼠标点击"},
        {StepKind::mouseMove, "mouseMove", "鼠标移动"},
        {StepKind::mouseScroll, "mouseScroll", "鼠标滚轮"},
        {StepKind::keyPress, "keyPress", "键盘按键"},
        {StepKind::typeText, "typeText", "输入文本"},
        {StepKind::colorCheck, "colorCheck", "颜色判断"},
        {StepKind::imageCheck, "imageCheck", "图像判断"},
        {StepKind::lua, "lua", "Lua 脚本"},
        {StepKind::goTo, "goto", "跳转"},
        {StepKind::comment, "comment", "注释"},
    }};
};

template <>
struct EnumTable<MouseButton> {
    static constexpr std::array<EnumCase<MouseButton>, 3> cases{{
        {MouseButton::left, "left", "左键"},
        {MouseButton::right, "right", "右键"},
        {MouseButton::center, "center", "中键"},
    }};
};

template <>
struct EnumTable<ClickKind> {
    static constexpr std::array<EnumCase<ClickKind>, 4> cases{{
        {ClickKind::click, "click", "单击"},
        {ClickKind::doubleClick, "doubleClick", "双击"},
        {ClickKind::down, "down", "按下"},
        {ClickKind::up, "up", "抬起"},
    }};
};

template <>
struct EnumTable<KeyEventKind> {
    static constexpr std::array<EnumCase<KeyEventKind>, 3> cases{{
        {KeyEventKind::press, "press", "按下并抬起"},
        {KeyEventKind::down, "down", "仅按下"},
        {KeyEventKind::up, "up", "仅抬起"},
    }};
};

template <>
struct EnumTable<MatchMode> {
    static constexpr std::array<EnumCase<MatchMode>, 2> cases{{
        {MatchMode::all, "all", "全部匹配"},
        {MatchMode::any, "any", "任一匹配"},
    }};
};

// Labels are the picker labels of the branch editor.
template <>
struct EnumTable<BranchKind> {
    static constexpr std::array<EnumCase<BranchKind>, 7> cases{{
        {BranchKind::click, "click", "模拟鼠标点击"},
        {BranchKind::clickRegion, "clickRegion", "点击识别范围"},
        {BranchKind::key, "key", "模拟键盘按键"},
        {BranchKind::next, "next", "继续下一步"},
        {BranchKind::jump, "jump", "跳转到步骤"},
        {BranchKind::restart, "restart", "重新开始"},
        {BranchKind::stop, "stop", "停止脚本"},
    }};
};

template <>
struct EnumTable<AfterAction> {
    static constexpr std::array<EnumCase<AfterAction>, 4> cases{{
        {AfterAction::next, "next", "继续下一步"},
        {AfterAction::jump, "jump", "跳转到步骤"},
        {AfterAction::restart, "restart", "重新开始"},
        {AfterAction::stop, "stop", "停止脚本"},
    }};
};

template <class E>
constexpr auto allCases() {
    std::array<E, EnumTable<E>::cases.size()> out{};
    for (size_t i = 0; i < out.size(); ++i) out[i] = EnumTable<E>::cases[i].value;
    return out;
}

template <class E>
constexpr std::string_view rawValue(E e) {
    for (const auto& c : EnumTable<E>::cases)
        if (c.value == e) return c.raw;
    return {};
}

template <class E>
constexpr std::string_view label(E e) {
    for (const auto& c : EnumTable<E>::cases)
        if (c.value == e) return c.label;
    return {};
}

// The case whose raw value is exactly `raw` (case-sensitive), or nothing.
template <class E>
constexpr std::optional<E> fromRawValue(std::string_view raw) {
    for (const auto& c : EnumTable<E>::cases)
        if (c.raw == raw) return c.value;
    return std::nullopt;
}

// SF Symbols name of a step kind's icon.
std::string_view iconName(StepKind kind);

// click, clickRegion and key act before going on; the others only choose where to go.
constexpr bool isAction(BranchKind kind) {
    return kind == BranchKind::click || kind == BranchKind::clickRegion || kind == BranchKind::key;
}

}  // namespace tapforge
