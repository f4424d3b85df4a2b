#include "lua/LuaShim.h"

#include <lua.hpp>

#include <cstring>

extern "C" {

int tfg_TNONE(void) { return LUA_TNONE; }
int tfg_TNIL(void) { return LUA_TNIL; }
int tfg_TBOOLEAN(void) { return LUA_TBOOLEAN; }
int tfg_TNUMBER(void) { return LUA_TNUMBER; }
int tfg_TSTRING(void) { return LUA_TSTRING; }
int tfg_TTABLE(void) { return LUA_TTABLE; }
int tfg_OK(void) { return LUA_OK; }

int tfg_upvalueindex(int i) { return lua_upvalueindex(i); }

int tfg_gettop(lua_State* L) { return lua_gettop(L); }
void tfg_settop(lua_State* L, int idx) { lua_settop(L, idx); }
int tfg_type(lua_State* L, int idx) { return lua_type(L, idx); }
const char* tfg_typename(lua_State* L, int idx) { return lua_typename(L, lua_type(L, idx)); }
int tfg_toboolean(lua_State* L, int idx) { return lua_toboolean(L, idx); }
double tfg_tonumberx(lua_State* L, int idx, int* isnum) { return lua_tonumberx(L, idx, isnum); }
int64_t tfg_tointegerx(lua_State* L, int idx, int* isnum) { return lua_tointegerx(L, idx, isnum); }
const char* tfg_tolstring(lua_State* L, int idx, size_t* len) { return lua_tolstring(L, idx, len); }
uint64_t tfg_rawlen(lua_State* L, int idx) { return lua_rawlen(L, idx); }
void* tfg_touserdata(lua_State* L, int idx) { return lua_touserdata(L, idx); }
void tfg_pushnil(lua_State* L) { lua_pushnil(L); }
void tfg_pushboolean(lua_State* L, int b) { lua_pushboolean(L, b); }
void tfg_pushinteger(lua_State* L, int64_t n) { lua_pushinteger(L, n); }
void tfg_pushnumber(lua_State* L, double n) { lua_pushnumber(L, n); }
const char* tfg_pushstring(lua_State* L, const char* s) { return lua_pushstring(L, s); }
const char* tfg_pushlstring(lua_State* L, const char* s, size_t len) { return lua_pushlstring(L, s, len); }
void tfg_pushlightuserdata(lua_State* L, void* p) { lua_pushlightuserdata(L, p); }
void tfg_createtable(lua_State* L, int narr, int nrec) { lua_createtable(L, narr, nrec); }
void tfg_setfield(lua_State* L, int idx, const char* key) { lua_setfield(L, idx, key); }
int tfg_getfield(lua_State* L, int idx, const char* key) { return lua_getfield(L, idx, key); }
int tfg_rawgeti(lua_State* L, int idx, int64_t n) { return lua_rawgeti(L, idx, n); }
void tfg_rawseti(lua_State* L, int idx, int64_t n) { lua_rawseti(L, idx, n); }
void tfg_setglobal(lua_State* L, const char* name) { lua_setglobal(L, name); }
int tfg_getglobal(lua_State* L, const char* name) { return lua_getglobal(L, name); }
void tfg_pushcclosure(lua_State* L, tfg_CFunction fn, int n) { lua_pushcclosure(L, fn, n); }

void tfg_error(lua_State* L, const char* message) {
    lua_pushstring(L, message);
    lua_error(L);
    // lua_error unwinds; this only tells the compiler so.
    __builtin_unreachable();
}

namespace {

int callLoaded(lua_State* L, int top, int status) {
    if (status != LUA_OK) return status;
    {
        tapforge::GuardedLuaRun guarded(L);
        status = lua_pcall(L, 0, LUA_MULTRET, 0);
    }
    if (status != LUA_OK) lua_settop(L, top + 1);
    return status;
}

}  // namespace

int tfg_run_file(lua_State* L, const char* path) {
    const int top = lua_gettop(L);
    return callLoaded(L, top, tfg_load_source_file(L, path));
}

int tfg_run_string(lua_State* L, const char* code, const char* chunkname) {
    const int top = lua_gettop(L);
    return callLoaded(L, top, luaL_loadbufferx(L, code, std::strlen(code), chunkname, "t"));
}

}  // extern "C"
