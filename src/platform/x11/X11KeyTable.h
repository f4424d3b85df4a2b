// The script's virtual key codes (US ANSI numbering, the same on every platform) and their X
// keysyms. Posting resolves a keysym to the server's keycode with the live keyboard mapping;
// recording maps a keycode back through its unshifted keysym. Keysyms are plain numbers here so
// the table can be used and tested without X headers. Immutable; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tapforge::platform::x11 {

struct VirtualKeysym {
    uint16_t keyCode;   // virtual key code
    uint32_t keysym;    // X keysym
};

// One entry per virtual key with an X counterpart: the key map's named keys and the right
// Command key (54, Super_R). Fn (63) has none.
std::span<const VirtualKeysym> virtualKeysyms();
// The keysym posted for a virtual key code.
std::optional<uint32_t> keysymForVirtualCode(uint16_t keyCode);
// The virtual code of a recorded key's unshifted keysym: the table above read backwards, plus
// the keysyms that PC keyboards put on the same keys (Insert on Help, keypad navigation on the
// keypad digits, ...).
std::optional<uint16_t> virtualCodeForKeysym(uint32_t keysym);
// Those other keysyms, tried in order for posting when the keyboard lacks a key's own keysym.
std::span<const VirtualKeysym> synonymKeysyms();
// Shift, Control, Alt, Meta, Super, Hyper, Caps Lock and the ISO level shifts: keys that only
// change the flags of other events (Num Lock is an ordinary key here, as the keypad Clear key).
bool isModifierKeysym(uint32_t keysym);

}  // namespace tapforge::platform::x11
