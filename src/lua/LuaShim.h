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
// Both load source text only (a precompiled chunk is refused); tfg_run_file reads its file as
// tfg_load_source_file does.
int tfg_run_file(lua_State* L, const char* path);
int tfg_run_string(lua_State* L, const char* code, const char* chunkname);

// Loads the Lua source file `path` as a chunk named "@path" without calling it. Refused with a
// message naming the file: anything but a regular file (a FIFO or a device would block the
// read), a file over kTfgMaxSourceBytes, a precompiled chunk. Status as lua_load's; on failure
// the message is on top of the stack.
int tfg_load_source_file(lua_State* L, const char* path);
// Makes load, loadfile, dofile and require's Lua-file searcher of `L` load source text only,
// and files only as tfg_load_source_file does. loadfile and dofile require a file name.
void tfg_install_source_loaders(lua_State* L);

// Puts a state under the guard: its coroutine library tracks which Lua threads are running, so
// that the guard hook can be set on them when a stop or the deadline comes due. In the
// carried-hook mode (see LuaGuard.cpp) it also sets the count hook every 20 000 instructions.
void tfg_install_hook(lua_State* L);
// The hook itself; not called by the application.
void tfg_hook(lua_State* L, lua_Debug* ar);
// Raises the guard error (with Lua's position prefix) when a stop is requested or the deadline
// has passed, exactly as the hook would; returns otherwise. Host calls check it on entry.
void tfg_check_guard(lua_State* L);
// Sets the hook on the running Lua code of the calling thread when a stop is requested or the
// deadline has passed, so that it ends at its next instruction. For host calls that return (or
// raise) early because of either, as the waits and sleep do.
void tfg_arm_guard_if_due(void);

}  // extern "C"

// Largest Lua source file read.
inline constexpr size_t kTfgMaxSourceBytes = 8u * 1024 * 1024;
// Instructions between two guard checks when the hook is carried permanently.
inline constexpr int kTfgHookInstructionCount = 20000;
// The two guard errors, raised with Lua's position prefix when one is available.
inline constexpr const char* kTfgInterruptedMessage = "脚本已被用户中断";
inline constexpr const char* kTfgTimeoutMessage = "Lua 脚本执行超时";

namespace tapforge {

// Marks the calling thread as running `L` for as long as it lives (tfg_run_file and
// tfg_run_string hold one around the call), so that a stop or a deadline can reach it. With a
// null `L` only the Lua threads the code starts are tracked (closing a state runs its finalizers,
// each on a thread of its own, while the state itself is being freed).
class GuardedLuaRun {
public:
    explicit GuardedLuaRun(lua_State* L);
    ~GuardedLuaRun();
    GuardedLuaRun(const GuardedLuaRun&) = delete;
    GuardedLuaRun& operator=(const GuardedLuaRun&) = delete;

private:
    bool pushed_;
};

// Whether the guard hook is carried on every state all the time (a count hook every 20 000
// instructions) instead of being set only when needed.
bool luaGuardCarriesHook();

}  // namespace tapforge
