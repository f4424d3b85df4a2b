// Two fixed texts about the Lua macro library, as data for the user interface: the API
// reference shown by the Lua step editor, and the sample file the application writes on
// request. Immutable; callable from any thread.
#pragma once

#include <string_view>

namespace tapforge {

// Every function of the library in six commented groups, one call form per line, comments
// aligned in one column, ending with the line about the file's own return value.
std::string_view luaApiReference();
// The 41-line sample Lua file (lines joined by "\n", no line feed after the last).
std::string_view luaSampleScript();

}  // namespace tapforge
