#include "lua/LuaRuntime.h"

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <exception>

#include "lua/LuaShim.h"
#include "lua/LuaText.h"

namespace tapforge {

namespace {

lua_State* asState(void* state) { return static_cast<lua_State*>(state); }

// Lua strings may hold any bytes; the application's strings are UTF-8 without zero bytes.
std::string toText(const char* data) { return data ? sanitizeUtf8(std::string_view(data, std::strlen(data))) : std::string(); }

LuaType typeOf(int luaType) {
    if (luaType == tfg_TNONE()) return LuaType::none;
    if (luaType == tfg_TNIL()) return LuaType::nil;
    if (luaType == tfg_TBOOLEAN()) return LuaType::boolean;
    if (luaType == tfg_TNUMBER()) return LuaType::number;
    if (luaType == tfg_TSTRING()) return LuaType::string;
    if (luaType == tfg_TTABLE()) return LuaType::table;
    return LuaType::other;
}

}  // namespace

std::string_view description(LuaError error) {
    switch (error) {
        case LuaError::notInitialized: return "Lua 运行时未初始化";
    }
    return {};
}

// Counts what the state holds and refuses growth past the limit. Lua answers a refused
// allocation with its "not enough memory" error (after an emergency collection), which the
// protected run turns into a failure of that run instead of exhausting the process.
struct LuaRuntime::Allocator {
    size_t used = 0;
    size_t limit = 0;

    static void* allocate(void* ud, void* ptr, size_t osize, size_t nsize) {
        auto* self = static_cast<Allocator*>(ud);
        // Without a block, osize is a type tag, not a size.
        const size_t old = ptr ? osize : 0;
        if (nsize == 0) {
            std::free(ptr);
            self->used -= old;
            return nullptr;
        }
        if (nsize > old && (self->used >= self->limit || nsize - old > self->limit - self->used)) return nullptr;
        void* block = std::realloc(ptr, nsize);
        if (!block) return nullptr;
        self->used = self->used - old + nsize;
        return block;
    }
};

struct LuaRuntime::FunctionBox {
    LuaHostFunction body;
};

LuaRuntime::LuaRuntime(void* state, bool ownsState) : state_(state), ownsState_(ownsState) {}

std::unique_ptr<LuaRuntime> LuaRuntime::create(size_t memoryLimitBytes) {
    lua_State* L = luaL_newstate();
    if (!L) return nullptr;
    // luaL_newstate's allocator is realloc/free, the same as ours, so blocks it made can be
    // resized and freed by ours; start the count at what the state already holds.
    auto allocator = std::make_unique<Allocator>();
    allocator->limit = memoryLimitBytes;
    allocator->used = static_cast<size_t>(lua_gc(L, LUA_GCCOUNT)) * 1024 + static_cast<size_t>(lua_gc(L, LUA_GCCOUNTB));
    lua_setallocf(L, &Allocator::allocate, allocator.get());
    auto runtime = std::unique_ptr<LuaRuntime>(new LuaRuntime(L, true));
    runtime->allocator_ = std::move(allocator);
    luaL_openlibs(L);
    tfg_install_source_loaders(L);
    tfg_install_hook(L);
    return runtime;
}

LuaRuntime::~LuaRuntime() {
    // Closing may run __gc metamethods that call host functions, so the boxes go after.
    if (ownsState_ && state_) {
        // Under the guard: a stop reaches the finalizers that closing runs.
        GuardedLuaRun guarded(nullptr);
        lua_close(asState(state_));
    }
    state_ = nullptr;
    functionBoxes_.clear();
}

int LuaRuntime::dispatch(void* state) {
    lua_State* L = asState(state);
    // A stop or a passed deadline ends the script before it acts again.
    tfg_check_guard(L);
    // A host call that saw either and returned or raised early (the waits, sleep) hands back to
    // a script that then ends at its next instruction.
    struct ArmOnExit {
        ~ArmOnExit() { tfg_arm_guard_if_due(); }
    } armOnExit;
    auto* box = static_cast<FunctionBox*>(tfg_touserdata(L, tfg_upvalueindex(1)));
    if (!box) return 0;
    std::string failure;
    try {
        LuaRuntime caller(L, false);
        return box->body(caller);
    } catch (const std::exception& e) {
        // A C++ failure inside a host function (e.g. bad_alloc) becomes a Lua error of the
        // script. Lua's own errors are not std::exception and pass through untouched.
        failure = e.what();
    }
    tfg_error(L, failure.c_str());
}

void LuaRuntime::registerTable(const std::string& name, const std::vector<std::pair<std::string, LuaHostFunction>>& functions) {
    if (!state_) return;
    lua_State* L = asState(state_);
    tfg_createtable(L, 0, static_cast<int>(functions.size()));
    for (const auto& [field, body] : functions) {
        functionBoxes_.push_back(std::make_unique<FunctionBox>(FunctionBox{body}));
        tfg_pushlightuserdata(L, functionBoxes_.back().get());
        tfg_pushcclosure(L, [](lua_State* calling) { return LuaRuntime::dispatch(calling); }, 1);
        tfg_setfield(L, -2, field.c_str());
    }
    tfg_setglobal(L, name.c_str());
}

LuaRunOutcome LuaRuntime::runString(const std::string& code, const std::string& chunkName) {
    if (!state_) return LuaRunOutcome::failure(std::string(description(LuaError::notInitialized)));
    lua_State* L = asState(state_);
    const int base = tfg_gettop(L);
    const int status = tfg_run_string(L, code.c_str(), chunkName.c_str());
    return finish(status, base, false).first;
}

std::pair<LuaRunOutcome, std::vector<LuaValue>> LuaRuntime::runFile(const std::string& path) {
    if (!state_) return {LuaRunOutcome::failure(std::string(description(LuaError::notInitialized))), {}};
    lua_State* L = asState(state_);
    const int base = tfg_gettop(L);
    const int status = tfg_run_file(L, path.c_str());
    return finish(status, base, true);
}

std::pair<LuaRunOutcome, std::vector<LuaValue>> LuaRuntime::finish(int32_t status, int32_t base, bool keepResults) {
    if (!state_) return {LuaRunOutcome::failure(std::string(description(LuaError::notInitialized))), {}};
    lua_State* L = asState(state_);
    if (status != tfg_OK()) {
        std::string message = "未知错误";
        if (tfg_type(L, -1) == tfg_TSTRING()) message = toText(tfg_tolstring(L, -1, nullptr));
        tfg_settop(L, base);
        return {LuaRunOutcome::failure(std::move(message)), {}};
    }
    std::vector<LuaValue> values;
    if (keepResults) {
        const int top = tfg_gettop(L);
        for (int i = base + 1; i <= top; ++i) {
            const int type = tfg_type(L, i);
            if (type == tfg_TBOOLEAN()) {
                values.push_back(LuaValue::makeBool(tfg_toboolean(L, i) != 0));
            } else if (type == tfg_TNUMBER()) {
                values.push_back(LuaValue::makeNumber(tfg_tonumberx(L, i, nullptr)));
            } else if (type == tfg_TSTRING()) {
                values.push_back(LuaValue::makeString(toText(tfg_tolstring(L, i, nullptr))));
            } else if (type == tfg_TNIL() || type == tfg_TNONE()) {
                values.push_back(LuaValue::makeNil());
            } else {
                const char* name = tfg_typename(L, i);
                values.push_back(LuaValue::makeOther(name ? name : "unknown"));
            }
        }
    }
    tfg_settop(L, base);
    return {LuaRunOutcome::success(), std::move(values)};
}

int32_t LuaRuntime::argumentCount() const { return state_ ? tfg_gettop(asState(state_)) : 0; }

LuaType LuaRuntime::argumentType(int32_t index) const {
    if (index < 1 || !state_ || tfg_gettop(asState(state_)) < index) return LuaType::none;
    return typeOf(tfg_type(asState(state_), index));
}

std::optional<double> LuaRuntime::argumentDouble(int32_t index) const {
    if (index < 1 || !state_) return std::nullopt;
    lua_State* L = asState(state_);
    if (tfg_gettop(L) < index) return std::nullopt;
    int isNumber = 0;
    const double value = tfg_tonumberx(L, index, &isNumber);
    if (!isNumber) return std::nullopt;
    return value;
}

std::optional<std::string> LuaRuntime::argumentString(int32_t index) const {
    if (index < 1 || !state_) return std::nullopt;
    lua_State* L = asState(state_);
    if (tfg_gettop(L) < index) return std::nullopt;
    if (tfg_type(L, index) != tfg_TSTRING()) return std::nullopt;
    return toText(tfg_tolstring(L, index, nullptr));
}

std::optional<int64_t> LuaRuntime::argumentInteger(int32_t index) const {
    if (index < 1 || !state_) return std::nullopt;
    lua_State* L = asState(state_);
    if (tfg_gettop(L) < index) return std::nullopt;
    int isInteger = 0;
    const int64_t value = tfg_tointegerx(L, index, &isInteger);
    if (!isInteger) return std::nullopt;
    return value;
}

void LuaRuntime::forEachTableElement(int32_t index, const std::function<void(const LuaTableView&)>& visit) {
    if (!argumentIsTable(index)) return;
    lua_State* L = asState(state_);
    const uint64_t count = tfg_rawlen(L, index);
    for (uint64_t i = 1; i <= count; ++i) {
        tfg_rawgeti(L, index, static_cast<int64_t>(i));
        if (tfg_type(L, -1) == tfg_TTABLE()) visit(LuaTableView(L, tfg_gettop(L)));
        tfg_settop(L, -2);
    }
}

LuaType LuaTableView::fieldType(const char* key) const {
    lua_State* L = asState(state_);
    const LuaType type = typeOf(tfg_getfield(L, index_, key));
    tfg_settop(L, -2);
    return type;
}

std::optional<double> LuaTableView::fieldNumber(const char* key) const {
    lua_State* L = asState(state_);
    tfg_getfield(L, index_, key);
    int isNumber = 0;
    const double value = tfg_tonumberx(L, -1, &isNumber);
    tfg_settop(L, -2);
    if (!isNumber) return std::nullopt;
    return value;
}

std::optional<std::string> LuaTableView::fieldString(const char* key) const {
    lua_State* L = asState(state_);
    std::optional<std::string> value;
    if (tfg_getfield(L, index_, key) == tfg_TSTRING()) value = toText(tfg_tolstring(L, -1, nullptr));
    tfg_settop(L, -2);
    return value;
}

void LuaRuntime::pushNil() { tfg_pushnil(asState(state_)); }
void LuaRuntime::pushBool(bool value) { tfg_pushboolean(asState(state_), value ? 1 : 0); }
void LuaRuntime::pushInteger(int64_t value) { tfg_pushinteger(asState(state_), value); }
void LuaRuntime::pushNumber(double value) { tfg_pushnumber(asState(state_), value); }
void LuaRuntime::pushString(std::string_view value) { tfg_pushlstring(asState(state_), value.data(), value.size()); }

void LuaRuntime::pushStringArray(const std::vector<std::string>& values) {
    lua_State* L = asState(state_);
    tfg_createtable(L, static_cast<int>(values.size()), 0);
    for (size_t i = 0; i < values.size(); ++i) {
        tfg_pushlstring(L, values[i].data(), values[i].size());
        tfg_rawseti(L, -2, static_cast<int64_t>(i + 1));
    }
}

void LuaRuntime::raiseError(const std::string& message) { tfg_error(asState(state_), message.c_str()); }

size_t LuaRuntime::memoryInUse() const {
    if (!state_) return 0;
    void* ud = nullptr;
    if (lua_getallocf(asState(state_), &ud) != &Allocator::allocate) return 0;
    return static_cast<Allocator*>(ud)->used;
}

}  // namespace tapforge
