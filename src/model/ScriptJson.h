// The JSON file format of a script: tolerant reading (missing keys take defaults, an unknown
// step kind becomes a comment), strict types, and nothing half-loaded on failure.
// Script files are shared between users, so decoding treats the bytes as hostile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/Script.h"

namespace tapforge {

enum class JsonStyle { pretty, compact };

struct ScriptDecodeResult {
    std::optional<Script> script;   // set on success
    std::string error;              // on failure: what is wrong and where, for the user
    explicit operator bool() const { return script.has_value(); }
};

struct ScriptEncodeResult {
    std::optional<std::string> json;   // set on success
    std::string error;
    explicit operator bool() const { return json.has_value(); }
};

// Largest document accepted, and deepest nesting of arrays and objects.
inline constexpr size_t kMaxScriptDocumentBytes = 64u * 1024 * 1024;
inline constexpr int kMaxScriptNestingDepth = 128;

ScriptDecodeResult decodeScript(std::string_view json);
// Pretty (indented, one key per line) for saved files, compact for the autosave.
// Fails when a number is not finite.
ScriptEncodeResult encodeScript(const Script& script, JsonStyle style = JsonStyle::pretty);

}  // namespace tapforge
