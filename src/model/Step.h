// One step of a script. Every field is stored and saved whatever the kind; the engine reads
// only the fields its kind uses. Identity is `id` (jump targets refer to it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/BranchTarget.h"
#include "model/ColorPoint.h"
#include "model/Enums.h"
#include "model/ImageTemplate.h"
#include "model/ModifierSet.h"
#include "model/Uuid.h"

namespace tapforge {

// A global point (top-left of the primary display, y down), as a step is created at.
struct GlobalPoint {
    double x = 0;
    double y = 0;
};

struct Step {
    Uuid id = Uuid::random();
    StepKind kind = StepKind::comment;
    bool enabled = true;
    std::string note;                       // comment text for kind comment
    int64_t delayMs = 500;
    double x = 0;                           // global points
    double y = 0;
    bool hasPoint = false;                  // false: act where the pointer is
    MouseButton mouseButton = MouseButton::left;
    ClickKind clickKind = ClickKind::click;
    int64_t moveDurationMs = 300;           // below 1: jump at once
    int64_t scrollAmount = -3;              // wheel lines, positive up
    std::optional<uint16_t> keyCode;
    KeyEventKind keyKind = KeyEventKind::press;
    ModifierSet modifiers;
    std::string text;
    std::vector<ColorPoint> colorPoints;
    MatchMode colorMode = MatchMode::all;
    std::optional<ImageTemplate> imageTemplate;   // JSON key "template"
    double threshold = 0.9;                 // minimum similarity 0..1
    bool searchFullScreen = true;
    double searchMargin = 60.0;             // points around the capture rectangle
    bool clickOnMatch = false;
    bool waitForCondition = true;
    int64_t timeoutMs = 5000;               // Lua: run-time limit, below 1 = none
    int64_t pollMs = 200;
    std::optional<Uuid> gotoStepID;
    BranchTarget onSuccess;
    BranchTarget onFailure;
    std::string luaFile;

    Step() = default;
    explicit Step(StepKind k) : kind(k) {}

    // A new step of `kind` as the editor adds it: defaults, a fresh id; a Lua step has no
    // time limit; clicks and moves get a point at `pointer` ((0, 0) when it is unknown).
    static Step create(StepKind kind, std::optional<GlobalPoint> pointer);

    // The label of the kind.
    std::string title() const;
    // The one-line description in the step list.
    std::string summary() const;
    // "成功: … ／ 失败: …" for colour, image and Lua steps; nothing for the others.
    std::optional<std::string> branchSummary(const std::vector<Step>& steps) const;

    friend bool operator==(const Step&, const Step&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::Step> {
    size_t operator()(const tapforge::Step& s) const noexcept;
};
