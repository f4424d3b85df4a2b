// The script document: a named, ordered list of steps with its loop settings and
// template library. A plain value; the runner works on its own copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/ImageTemplate.h"
#include "model/Step.h"

namespace tapforge {

struct Script {
    std::string name = "未命名脚本";
    std::vector<Step> steps;
    int64_t loopCount = 1;          // below 1: repeat until stopped
    int64_t stepIntervalMs = 0;     // pause after each input step
    std::vector<ImageTemplate> templates;

    friend bool operator==(const Script&, const Script&) = default;
};

}  // namespace tapforge

template <>
struct std::hash<tapforge::Script> {
    size_t operator()(const tapforge::Script& s) const noexcept;
};
