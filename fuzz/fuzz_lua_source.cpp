// Feeds arbitrary bytes to the loader of Lua step files, as a file on disk: it must never crash,
// and whatever starts (after a byte-order mark and a '#' line) with the precompiled-chunk
// signature must be refused. Loaded chunks are not run.
#include <unistd.h>

#include <lua.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lua/LuaShim.h"

namespace {

const std::string& scratchPath() {
    static const std::string path = "/tmp/fuzz_lua_source-" + std::to_string(::getpid()) + ".lua";
    return path;
}

bool looksPrecompiled(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
    if (s.starts_with("#")) {
        const size_t end = s.find('\n');
        s = end == std::string_view::npos ? std::string_view() : s.substr(end + 1);
    }
    return s.starts_with("\x1b");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) std::abort();
    if (std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    lua_State* L = luaL_newstate();
    if (!L) std::abort();
    const int status = tfg_load_source_file(L, scratchPath().c_str());
    if (status == LUA_OK && looksPrecompiled(bytes)) std::abort();
    if (status != LUA_OK && lua_type(L, -1) != LUA_TSTRING) std::abort();
    lua_close(L);
    return 0;
}
