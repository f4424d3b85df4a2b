// Small UTF-8 text helpers for the Lua bridge and the macro library: repairing bytes that
// came from Lua, case folding for button words and template names, trimming.
// Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace tapforge {

// Every ill-formed UTF-8 sequence replaced by U+FFFD (one per maximal ill-formed subpart).
std::string sanitizeUtf8(std::string_view bytes);
// Unicode simple lower-case mapping of each code point (input repaired as above).
std::string lowercased(std::string_view text);
// Appends code point `cp` to `out` as UTF-8.
void appendUtf8(char32_t cp, std::string& out);
// Without leading and trailing white space and line breaks (ASCII and Unicode spaces).
std::string trimmedWhitespace(std::string_view text);

}  // namespace tapforge
