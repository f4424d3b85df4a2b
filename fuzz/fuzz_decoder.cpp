// Fuzzes the script decoder with hostile bytes. Beyond not crashing, every document it
// accepts must write and read back to an equal script, and writing is then stable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "model/ScriptJson.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_decoder: %s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tapforge;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const ScriptDecodeResult first = decodeScript(input);
    if (!first) {
        if (first.error.empty()) fail("refused without a message", "");
        return 0;
    }
    // Summaries must hold for anything that loads.
    for (const Step& step : first.script->steps) {
        (void)step.summary();
        (void)step.branchSummary(first.script->steps);
        for (const ColorPoint& p : step.colorPoints) (void)p.display();
    }
    for (JsonStyle style : {JsonStyle::pretty, JsonStyle::compact}) {
        const ScriptEncodeResult encoded = encodeScript(*first.script, style);
        if (!encoded) fail("a loaded script cannot be written", encoded.error);
        const ScriptDecodeResult again = decodeScript(*encoded.json);
        if (!again) fail("written script does not read back", again.error);
        if (!(*again.script == *first.script)) fail("round trip changed the script", *encoded.json);
        if (std::hash<Script>{}(*again.script) != std::hash<Script>{}(*first.script)) fail("hash differs", "");
        const ScriptEncodeResult twice = encodeScript(*again.script, style);
        if (!twice || *twice.json != *encoded.json) fail("writing is not stable", *encoded.json);
    }
    return 0;
}
