#include "platform/x11/X11KeyTable.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>

namespace tapforge::platform::x11 {

namespace {

constexpr VirtualKeysym kTable[] = {
    // Letters
    {0, XK_a}, {1, XK_s}, {2, XK_d}, {3, XK_f}, {4, XK_h}, {5, XK_g}, {6, XK_z}, {7, XK_x}, {8, XK_c},
    {9, XK_v}, {11, XK_b}, {12, XK_q}, {13, XK_w}, {14, XK_e}, {15, XK_r}, {16, XK_y}, {17, XK_t},
    {31, XK_o}, {32, XK_u}, {34, XK_i}, {35, XK_p}, {37, XK_l}, {38, XK_j}, {40, XK_k}, {45, XK_n},
    {46, XK_m},
    // Digits
    {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4}, {22, XK_6}, {23, XK_5}, {25, XK_9}, {26, XK_7},
    {28, XK_8}, {29, XK_0},
    // Punctuation
    {24, XK_equal}, {27, XK_minus}, {30, XK_bracketright}, {33, XK_bracketleft}, {39, XK_apostrophe},
    {41, XK_semicolon}, {42, XK_backslash}, {43, XK_comma}, {44, XK_slash}, {47, XK_period}, {50, XK_grave},
    // Editing and control. The Help key sits where PC keyboards have Insert.
    {36, XK_Return}, {48, XK_Tab}, {49, XK_space}, {51, XK_BackSpace}, {53, XK_Escape}, {114, XK_Insert},
    {115, XK_Home}, {116, XK_Prior}, {117, XK_Delete}, {119, XK_End}, {121, XK_Next},
    // Modifiers
    {54, XK_Super_R}, {55, XK_Super_L}, {56, XK_Shift_L}, {57, XK_Caps_Lock}, {58, XK_Alt_L}, {59, XK_Control_L},
    {60, XK_Shift_R}, {61, XK_Alt_R}, {62, XK_Control_R},
    // Function keys
    {122, XK_F1}, {120, XK_F2}, {99, XK_F3}, {118, XK_F4}, {96, XK_F5}, {97, XK_F6}, {98, XK_F7},
    {100, XK_F8}, {101, XK_F9}, {109, XK_F10}, {103, XK_F11}, {111, XK_F12}, {105, XK_F13},
    {107, XK_F14}, {113, XK_F15}, {106, XK_F16}, {64, XK_F17}, {79, XK_F18}, {80, XK_F19},
    // Keypad
    {65, XK_KP_Decimal}, {67, XK_KP_Multiply}, {69, XK_KP_Add}, {71, XK_Num_Lock}, {75, XK_KP_Divide},
    {76, XK_KP_Enter}, {78, XK_KP_Subtract}, {81, XK_KP_Equal}, {82, XK_KP_0}, {83, XK_KP_1},
    {84, XK_KP_2}, {85, XK_KP_3}, {86, XK_KP_4}, {87, XK_KP_5}, {88, XK_KP_6}, {89, XK_KP_7},
    {91, XK_KP_8}, {92, XK_KP_9},
    // Arrows
    {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
};
static_assert(std::size(kTable) == 108, "every named key but Fn, and the right Command key");

// Unshifted keysyms of PC keyboards that stand for a key of the table.
constexpr VirtualKeysym kSynonyms[] = {
    {114, XK_Help}, {48, XK_ISO_Left_Tab}, {76, XK_ISO_Enter}, {58, XK_Meta_L}, {61, XK_Meta_R},
    {61, XK_ISO_Level3_Shift}, {55, XK_Super_R}, {55, XK_Hyper_L}, {54, XK_Super_L},
    {65, XK_KP_Delete}, {65, XK_KP_Separator}, {82, XK_KP_Insert}, {83, XK_KP_End}, {84, XK_KP_Down},
    {85, XK_KP_Next}, {86, XK_KP_Left}, {87, XK_KP_Begin}, {88, XK_KP_Right}, {89, XK_KP_Home},
    {91, XK_KP_Up}, {92, XK_KP_Prior}, {71, XK_Clear},
    // What the usual PC keymaps put on the F13 to F18 keys.
    {105, XF86XK_Tools}, {107, XF86XK_Launch5}, {113, XF86XK_Launch6}, {106, XF86XK_Launch7},
    {64, XF86XK_Launch8}, {79, XF86XK_Launch9},
};

}  // namespace

std::span<const VirtualKeysym> virtualKeysyms() { return kTable; }

std::span<const VirtualKeysym> synonymKeysyms() { return kSynonyms; }

std::optional<uint32_t> keysymForVirtualCode(uint16_t keyCode) {
    for (const VirtualKeysym& k : kTable)
        if (k.keyCode == keyCode) return k.keysym;
    return std::nullopt;
}

std::optional<uint16_t> virtualCodeForKeysym(uint32_t keysym) {
    // Upper-case letters come from keyboards whose first level is upper case.
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    for (const VirtualKeysym& k : kTable)
        if (k.keysym == keysym) return k.keyCode;
    for (const VirtualKeysym& k : kSynonyms)
        if (k.keysym == keysym) return k.keyCode;
    return std::nullopt;
}

bool isModifierKeysym(uint32_t keysym) {
    return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) || keysym == XK_ISO_Level3_Shift ||
           keysym == XK_ISO_Level5_Shift || keysym == XK_Mode_switch || keysym == XK_ISO_Lock ||
           keysym == XK_ISO_Level3_Lock || keysym == XK_ISO_Level5_Lock;
}

}  // namespace tapforge::platform::x11
