#include "model/Enums.h"

namespace tapforge {

std::string_view iconName(StepKind kind) {
    switch (kind) {
        case StepKind::delay: return "clock";
        case StepKind::mouseClick: return "cursorarrow.click";
        case StepKind::mouseMove: return "cursorarrow.motionlines";
        case StepKind::mouseScroll: return "computermouse";
        case StepKind::keyPress: return "keyboard";
        case StepKind::typeText: return "text.cursor";
        case StepKind::colorCheck: return "eyedropper";
        case StepKind::imageCheck: return "photo.on.rectangle.angled";
        case StepKind::lua: return "chevron.left.forwardslash.chevron.right";
        case StepKind::goTo: return "arrow.turn.down.right";
        case StepKind::comment: return "text.bubble";
    }
    return {};
}

}  // namespace tapforge
