// Shared helpers of the Lua tests: a scratch folder for Lua files, results as one line of text, and a
// fixture with a fresh state that leaves the process-wide guard (interrupt flag, deadline, clock) as found.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "lua/LuaGuard.h"
#include "lua/LuaRuntime.h"

namespace tapforge {

inline void PrintTo(const LuaRunOutcome& o, std::ostream* os) { *os << (o.succeeded ? "ok" : o.message); }

}  // namespace tapforge

namespace tapforge::test {

inline constexpr const char* kStopped = "脚本已被用户中断";
inline constexpr const char* kTimedOut = "Lua 脚本执行超时";

struct ScratchFolder {
    // Short, so that Lua's chunk names (cut at 60 bytes) show whole paths in messages.
    const std::filesystem::path path = "/tmp/tfl" + std::to_string(getpid()) + "-" + std::to_string(++count);
    ScratchFolder() { std::filesystem::remove_all(path), std::filesystem::create_directories(path); }
    ~ScratchFolder() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {   // returns the full path
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
        return *this / name;
    }
    static inline int count = 0;
};

// A run's results as "true|5|x|<table>|nil", or "error: message".
inline std::string show(const std::pair<LuaRunOutcome, std::vector<LuaValue>>& run) {
    if (!run.first.succeeded) return "error: " + run.first.message;
    std::ostringstream out;
    for (const LuaValue& v : run.second) {
        if (&v != &run.second.front()) out << "|";
        if (v == LuaValue::makeNil()) out << "nil";
        else if (v.kind == LuaValue::Kind::number) out << v.number;
        else if (v.kind == LuaValue::Kind::boolean) out << (v.boolean ? "true" : "false");
        else out << (v.kind == LuaValue::Kind::other ? "<" + v.text + ">" : v.text);
    }
    return out.str();
}

class LuaTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetGuard();
        ASSERT_TRUE(runtime);
    }
    // The state goes first: its functions may call what a derived fixture owns.
    void TearDown() override { runtime.reset(), resetGuard(); }
    static void resetGuard() { tfg_request_interrupt(0), tfg_set_deadline_ms(0), setLuaGuardClock(nullptr); }
    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=test"); }
    std::string eval(const std::string& s) { return show(runtime->runFile(folder.write("chunk.lua", s))); }

    ScratchFolder folder;
    std::unique_ptr<LuaRuntime> runtime = LuaRuntime::create();
};

}  // namespace tapforge::test
