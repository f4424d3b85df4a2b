// LuaRuntime: the application's handle on one Lua 5.4 state. It creates the state (all
// standard libraries, the guard hook of LuaGuard.h, an allocator with a memory cap), publishes
// host functions as global tables, converts arguments and results, and turns the status of a
// protected run into a LuaRunOutcome with Lua's own message.
//
// Host functions receive a LuaRuntime over the calling Lua thread (a coroutine when called
// from one) and use its argument readers and push operations; they report bad arguments
// with raiseError, which unwinds as a C++ exception (the C++ build of Lua), so their locals
// are destroyed properly.
//
// One runtime per playback run, created, used and destroyed on the playback worker thread.
// The only cross-thread contact is the guard's interrupt flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tapforge {

// One result value of a chunk.
struct LuaValue {
    enum class Kind { boolean, number, string, other, nilValue };

    Kind kind = Kind::nilValue;
    bool boolean = false;
    double number = 0;
    std::string text;   // the string, or the type name for `other`

    static LuaValue makeBool(bool b) { return LuaValue{Kind::boolean, b, 0, {}}; }
    static LuaValue makeNumber(double n) { return LuaValue{Kind::number, false, n, {}}; }
    static LuaValue makeString(std::string s) { return LuaValue{Kind::string, false, 0, std::move(s)}; }
    static LuaValue makeOther(std::string typeName) { return LuaValue{Kind::other, false, 0, std::move(typeName)}; }
    static LuaValue makeNil() { return LuaValue{}; }

    friend bool operator==(const LuaValue&, const LuaValue&) = default;
};

// The outcome of a protected run: success, or failure with Lua's message.
struct LuaRunOutcome {
    bool succeeded = true;
    std::string message;

    static LuaRunOutcome success() { return {true, {}}; }
    static LuaRunOutcome failure(std::string message) { return {false, std::move(message)}; }
    friend bool operator==(const LuaRunOutcome&, const LuaRunOutcome&) = default;
};

enum class LuaError { notInitialized };
// "Lua 运行时未初始化".
std::string_view description(LuaError error);

// What a Lua value is, as the host functions need to know it.
enum class LuaType { none, nil, boolean, number, string, table, other };

class LuaRuntime;
using LuaHostFunction = std::function<int32_t(LuaRuntime&)>;

// Read access to one Lua table during a host call (obtained from LuaRuntime::forEachTableElement).
// Field reads pop what they push.
class LuaTableView {
public:
    LuaType fieldType(const char* key) const;
    // Lua's number conversion (numbers and numeric strings).
    std::optional<double> fieldNumber(const char* key) const;
    // Only values of type string.
    std::optional<std::string> fieldString(const char* key) const;

private:
    friend class LuaRuntime;
    LuaTableView(void* state, int index) : state_(state), index_(index) {}
    void* state_;
    int index_;   // absolute stack index of the table
};

class LuaRuntime {
public:
    // Memory a state may hold before an allocation fails with Lua's "not enough memory".
    static constexpr size_t kDefaultMemoryLimitBytes = size_t{1} << 30;

    // Nothing when the state cannot be created.
    static std::unique_ptr<LuaRuntime> create(size_t memoryLimitBytes = kDefaultMemoryLimitBytes);
    ~LuaRuntime();
    LuaRuntime(const LuaRuntime&) = delete;
    LuaRuntime& operator=(const LuaRuntime&) = delete;

    bool hasState() const { return state_ != nullptr; }

    // Publishes the global table `name` whose fields call `functions`, in the given order.
    // Replaces an earlier global of that name; earlier functions stay alive with the runtime.
    void registerTable(const std::string& name, const std::vector<std::pair<std::string, LuaHostFunction>>& functions);

    // Runs a string chunk, results discarded. Chunk names follow Lua ("=name" is shown as is).
    LuaRunOutcome runString(const std::string& code, const std::string& chunkName);
    // Runs a file, keeping its results.
    std::pair<LuaRunOutcome, std::vector<LuaValue>> runFile(const std::string& path);

    // --- For host functions (1-based argument positions) ---
    int32_t argumentCount() const;
    LuaType argumentType(int32_t index) const;
    // A number or a string that converts to one; otherwise nothing.
    std::optional<double> argumentDouble(int32_t index) const;
    // Exactly a Lua string (a number is not one), cut at the first zero byte, invalid UTF-8
    // replaced by U+FFFD.
    std::optional<std::string> argumentString(int32_t index) const;
    // A number or numeric string with an exact integer value (2.5 is not one).
    std::optional<int64_t> argumentInteger(int32_t index) const;
    bool argumentIsTable(int32_t index) const { return argumentType(index) == LuaType::table; }
    // Calls `visit` for each element 1…rawlen of the table argument that is itself a table.
    void forEachTableElement(int32_t index, const std::function<void(const LuaTableView&)>& visit);

    void pushNil();
    void pushBool(bool value);
    void pushInteger(int64_t value);
    void pushNumber(double value);
    void pushString(std::string_view value);
    void pushStringArray(const std::vector<std::string>& values);
    // Raises `message` as the Lua error value, without position prefix. Never returns.
    [[noreturn]] void raiseError(const std::string& message);

    // Bytes the state holds now (allocator accounting).
    size_t memoryInUse() const;

private:
    struct Allocator;
    struct FunctionBox;

    LuaRuntime(void* state, bool ownsState);
    std::pair<LuaRunOutcome, std::vector<LuaValue>> finish(int32_t status, int32_t base, bool keepResults);
    static int dispatch(void* state);

    void* state_ = nullptr;   // lua_State*, kept out of this header
    bool ownsState_ = false;
    std::unique_ptr<Allocator> allocator_;
    std::vector<std::unique_ptr<FunctionBox>> functionBoxes_;
};

}  // namespace tapforge
