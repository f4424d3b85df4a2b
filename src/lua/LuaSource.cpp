// Loading Lua source only. Lua files travel with shared script files, and Lua's loader for
// precompiled chunks trusts its input (a crafted chunk crashes the interpreter), so every way
// a run's state can load code takes source text only. A file is read only when it is a regular
// file within the size cap: a FIFO or a device would block the worker in a read that neither a
// stop nor the time limit reaches.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <lua.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "lua/LuaShim.h"

namespace {

// Reads the regular file `path` into `out`; false with the message in `error`.
bool readSource(const char* path, std::string& out, std::string& error) {
    // Failures to open or read say what Lua's own file loader says.
    const std::string name(path);
    struct stat info {};
    // Checked before opening: opening some devices acts on them, and a FIFO blocks the open.
    if (::stat(path, &info) != 0) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = name + " 不是普通文件，不能作为 Lua 脚本读取";
        return false;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // The path may have been replaced between the two looks.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = name + " 不是普通文件，不能作为 Lua 脚本读取";
        return false;
    }
    const auto tooLarge = [&] {
        error = name + " 过大，Lua 文件不能超过 " + std::to_string(kTfgMaxSourceBytes / (1024 * 1024)) + " MiB";
        return false;
    };
    if (static_cast<uint64_t>(info.st_size) > kTfgMaxSourceBytes) return tooLarge();
    out.resize(static_cast<size_t>(info.st_size));
    size_t used = 0;
    while (true) {
        // One byte of room past the size read so far tells a file that grew past the cap.
        if (out.size() - used < 1) {
            if (out.size() > kTfgMaxSourceBytes) return tooLarge();
            out.resize(std::min<size_t>(out.size() * 2 + 4096, kTfgMaxSourceBytes + 1));
        }
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read " + name + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    if (used > kTfgMaxSourceBytes) return tooLarge();
    out.resize(used);
    return true;
}

// --- Replacements for the base library's loaders.

// load(chunk [, chunkname [, mode [, env]]]) with the mode always "t". Upvalue 1: Lua's load.
int textLoad(lua_State* L) {
    const int top = std::max(lua_gettop(L), 3);
    lua_settop(L, top);
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, top, LUA_MULTRET);
    return lua_gettop(L);
}

// loadfile([filename [, mode [, env]]]): text only; no file name would read standard input,
// which can block for ever, so a name is required.
int textLoadfile(lua_State* L) {
    const char* path = luaL_optstring(L, 1, nullptr);
    const bool hasEnv = !lua_isnone(L, 3);
    lua_pushnil(L);
    if (!path) {
        lua_pushliteral(L, "loadfile 需要文件名（不从标准输入读取）");
        return 2;
    }
    if (tfg_load_source_file(L, path) != LUA_OK) return 2;   // nil, message
    if (hasEnv) {
        lua_pushvalue(L, 3);
        if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
}

int dofileContinuation(lua_State* L, int, lua_KContext) { return lua_gettop(L) - 1; }

// dofile(filename): text only, and a name is required (see loadfile).
int textDofile(lua_State* L) {
    const char* path = luaL_optstring(L, 1, nullptr);
    if (!path) return luaL_error(L, "dofile 需要文件名（不从标准输入读取）");
    lua_settop(L, 1);
    if (tfg_load_source_file(L, path) != LUA_OK) return lua_error(L);
    lua_callk(L, 0, LUA_MULTRET, 0, dofileContinuation);
    return dofileContinuation(L, 0, 0);
}

// require's searcher for Lua files: the file is found as Lua's own searcher finds it
// (package.searchpath over package.path) and loaded as source. Upvalue 1: the package
// table; upvalue 2: Lua's package.searchpath.
int textSearcher(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    lua_getfield(L, lua_upvalueindex(1), "path");
    if (!lua_isstring(L, -1)) return luaL_error(L, "'package.path' must be a string");
    const int pathIndex = lua_gettop(L);
    lua_pushvalue(L, lua_upvalueindex(2));
    lua_pushstring(L, name);
    lua_pushvalue(L, pathIndex);
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2)) return 1;   // not found: the list of places tried
    lua_pop(L, 1);
    const char* file = lua_tostring(L, -1);
    if (tfg_load_source_file(L, file) != LUA_OK)
        return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, file, lua_tostring(L, -1));
    lua_pushstring(L, file);   // second argument to the module's chunk, as Lua's searcher does
    return 2;
}

}  // namespace

extern "C" {

int tfg_load_source_file(lua_State* L, const char* path) {
    std::string source, error;
    if (!readSource(path, source, error)) {
        lua_pushstring(L, error.c_str());
        return LUA_ERRFILE;
    }
    // As Lua's file loader: skip a UTF-8 byte-order mark, and a first line starting with '#'
    // (keeping its line break, so line numbers stay right).
    size_t start = source.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    size_t first = start;   // the first byte of the chunk proper
    if (start < source.size() && source[start] == '#') {
        const size_t end = source.find('\n', start);
        start = end == std::string::npos ? source.size() : end;
        first = start + 1;
    }
    if (first < source.size() && source[first] == LUA_SIGNATURE[0]) {
        const std::string message = std::string(path) + " 是预编译的 Lua 字节码，只能运行 Lua 源文件";
        lua_pushstring(L, message.c_str());
        return LUA_ERRSYNTAX;
    }
    const std::string chunkName = std::string("@").append(path);
    return luaL_loadbufferx(L, source.data() + start, source.size() - start, chunkName.c_str(), "t");
}

void tfg_install_source_loaders(lua_State* L) {
    lua_getglobal(L, "load");
    lua_pushcclosure(L, textLoad, 1);
    lua_setglobal(L, "load");
    lua_register(L, "loadfile", textLoadfile);
    lua_register(L, "dofile", textDofile);

    // package.searchers[2] is the Lua-file searcher; [1] (preload) needs no file, and the
    // native-library searchers load no Lua chunks.
    if (lua_getglobal(L, "package") == LUA_TTABLE) {
        if (lua_getfield(L, -1, "searchers") == LUA_TTABLE) {
            lua_pushvalue(L, -2);
            lua_getfield(L, -3, "searchpath");
            lua_pushcclosure(L, textSearcher, 2);
            lua_rawseti(L, -2, 2);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
}

}  // extern "C"
