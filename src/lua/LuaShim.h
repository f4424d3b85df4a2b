// The plain-function layer over the Lua 5.4 C API that the rest of src/lua goes through:
// fixed-signature forwards of the API operations we use (several are macros in lua.h),
// protected runs of a file or a string with a fixed stack discipline, and the guard hook.
//
// Internal to src/lua: code outside this directory uses LuaRuntime or LuaGuard.h.
// Lua here is the C++ build, so a Lua error raised by tfg_error or by the hook unwinds as a
// C++ exception and the destructors of the frames it crosses run.
// A state is used only by the thread that runs it (the playback worker).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lua/LuaGuard.h"

struct lua_State;
struct lua_Debug;

extern "C" {

typedef int (*tfg_CFunction)(lua_State* L);

// Type codes and status, as functions so that callers need not know Lua's values.
int tfg_TNONE(void);
int tfg_TNIL(void);
int tfg_TBOOLEAN(void);
int tfg_TNUMBER(void);
int tfg_TSTRING(void);
int tfg_TTABLE(void);
int tfg_OK(void);

// Pseudo-index of upvalue i of the running C closure.
int tfg_upvalueindex(int i);

int tfg_gettop(lua_State* L);
void tfg_settop(lua_State* L, int idx);
int tfg_type(lua_State* L, int idx);
// Type name of the value at stack index idx ("no value" for an empty slot).
const char* tfg_typename(lua_State* L, int idx);
int tfg_toboolean(lua_State* L, int idx);
double tfg_tonumberx(lua_State* L, int idx, int* isnum);
int64_t tfg_tointegerx(lua_State* L, int idx, int* isnum);
const char* tfg_tolstring(lua_State* L, int idx, size_t* len);
uint64_t tfg_rawlen(lua_State* L, int idx);
void* tfg_touserdata(lua_State* L, int idx);
void tfg_pushnil(lua_State* L);
void tfg_pushboolean(lua_State* L, int b);
void tfg_pushinteger(lua_State* L, int64_t n);
void tfg_pushnumber(lua_State* L, double n);
const char* tfg_pushstring(lua_State* L, const char* s);
const char* tfg_pushlstring(lua_State* L, const char* s, size_t len);
void tfg_pushlightuserdata(lua_State* L, void* p);
void tfg_createtable(lua_State* L, int narr, int nrec);
void tfg_setfield(lua_State* L, int idx, const char* key);
int tfg_getfield(lua_State* L, int idx, const char* key);
int tfg_rawgeti(lua_State* L, int idx, int64_t n);
void tfg_rawseti(lua_State* L, int idx, int64_t n);
void tfg_setglobal(lua_State* L, const char* name);
int tfg_getglobal(lua_State* L, const char* name);
void tfg_pushcclosure(lua_State* L, tfg_CFunction fn, int n);
// Raises `message` (no position prefix) as the Lua error value; never returns.
[[noreturn]] void tfg_error(lua_State* L, const char* message);

// Load and call protected, no message handler. Success: status 0 with every result above the
// old top. Failure: the status with exactly one value (the error object) above the old top.
int tfg_run_file(lua_State* L, const char* path);
int tfg_run_string(lua_State* L, const char* code, const char* chunkname);

// Installs the guard hook: a count hook every 20 000 virtual-machine instructions.
void tfg_install_hook(lua_State* L);
// The hook itself; not called by the application.
void tfg_hook(lua_State* L, lua_Debug* ar);

}  // extern "C"

// Instructions between two guard checks.
inline constexpr int kTfgHookInstructionCount = 20000;
// The two guard errors, raised with Lua's position prefix when one is available.
inline constexpr const char* kTfgInterruptedMessage = "脚本已被用户中断";
inline constexpr const char* kTfgTimeoutMessage = "Lua 脚本执行超时";
