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
// What one document may hold, so that memory follows what a script can sensibly need: a file at
// every limit loads and plays in a few hundred MiB. Template images are budgeted in pixels
// (kMaxTemplatePixels, kMaxScriptTemplatePixels) from their PNG headers.
inline constexpr size_t kMaxScriptSteps = 100'000;
inline constexpr size_t kMaxScriptColorPoints = 100'000;   // over all steps
inline constexpr size_t kMaxScriptTemplates = 1'000;       // in the library

ScriptDecodeResult decodeScript(std::string_view json);
// Pretty (indented, one key per line) for saved files, compact for the autosave.
// Fails when a number is not finite.
ScriptEncodeResult encodeScript(const Script& script, JsonStyle style = JsonStyle::pretty);

}  // namespace tapforge
