// A step as short text for whole-sequence comparisons: "click left@50,50", "delay 120", "key 0 press mod2".
#pragma once

#include <string>

#include "model/Step.h"

namespace tapforge::test {

inline std::string describe(const Step& s) {
    // Appended rather than "literal" + string: GCC 12 warns falsely (-Wrestrict) on the latter.
    std::string at = "@", mods;
    if (!s.modifiers.empty()) mods.append(" mod").append(std::to_string(s.modifiers.rawValue));
    at.append(std::to_string(int(s.x))).append(",").append(std::to_string(int(s.y)));
    switch (s.kind) {
        case StepKind::delay: return "delay " + std::to_string(s.delayMs);
        case StepKind::mouseClick: return std::string(rawValue(s.clickKind)) + " " + std::string(rawValue(s.mouseButton)) + at + mods;
        case StepKind::mouseMove: return "move" + at + " d" + std::to_string(s.moveDurationMs);
        case StepKind::mouseScroll: return "scroll " + std::to_string(s.scrollAmount) + at;
        case StepKind::keyPress: return "key " + std::to_string(s.keyCode.value_or(9999)) + " " + std::string(rawValue(s.keyKind)) + mods;
        default: return "other";
    }
}

}  // namespace tapforge::test
