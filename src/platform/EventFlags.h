// Modifier flag bits as they cross the platform interfaces: the Quartz event flag values,
// which are also what ModifierSet::cgFlags produces, so no translation is needed above.
#pragma once

#include <cstdint>

namespace tapforge::platform {

using EventFlags = uint64_t;

inline constexpr EventFlags kFlagShift = 0x20000;
inline constexpr EventFlags kFlagControl = 0x40000;
inline constexpr EventFlags kFlagOption = 0x80000;
inline constexpr EventFlags kFlagCommand = 0x100000;
inline constexpr EventFlags kFlagFunction = 0x800000;
inline constexpr EventFlags kModifierFlagsMask = kFlagShift | kFlagControl | kFlagOption | kFlagCommand | kFlagFunction;

// Tag carried by every event we post ("TFGQ"); the hotkey monitor ignores keys carrying it.
inline constexpr uint32_t kSyntheticEventTag = 0x54464751;

enum class PointerButton { left, right, center };

}  // namespace tapforge::platform
