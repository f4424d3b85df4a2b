// What a condition step (colour, image, Lua) does on success or failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/Enums.h"
#include "model/ModifierSet.h"
#include "model/Uuid.h"

namespace tapforge {

struct Step;

struct BranchTarget {
    using Kind = BranchKind;
    using AfterAction = tapforge::AfterAction;

    Kind kind = Kind::next;
    std::optional<Uuid> targetStepID;         // kind jump
    double clickX = 0;                        // kind click, global points
    double clickY = 0;
    bool clickHasPoint = true;                // false: click where the pointer is
    MouseButton clickButton = MouseButton::left;
    int64_t clickCount = 1;                   // 2 and more start with a double click
    std::optional<uint16_t> keyCode;          // kind key
    ModifierSet keyModifiers;
    AfterAction afterAction = AfterAction::next;   // for the action kinds
    std::optional<Uuid> afterStepID;          // afterAction jump

    // Short description for the step list and the branch editor.
    std::string display(const std::vector<Step>& steps) const;
    // "(未选择)", "第 N 步：<summary>" or "(目标步骤已删除)".
    static std::string stepDisplay(const std::optional<Uuid>& id, const std::vector<Step>& steps);

    friend bool operator==(const BranchTarget&, const BranchTarget&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::BranchTarget> {
    size_t operator()(const tapforge::BranchTarget& b) const noexcept;
};
