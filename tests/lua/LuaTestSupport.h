// Shared helpers of the Lua tests: a scratch folder for Lua files, and a fixture that leaves
// the process-wide guard (interrupt flag, deadline, clock) as it found it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include <unistd.h>

#include "lua/LuaGuard.h"
#include "lua/LuaRuntime.h"

namespace tapforge {

// Readable failures for the two result types.
inline void PrintTo(const LuaRunOutcome& outcome, std::ostream* os) {
    *os << (outcome.succeeded ? "success" : "failure(\"" + outcome.message + "\")");
}
inline void PrintTo(const LuaValue& value, std::ostream* os) {
    *os << "LuaValue(kind " << static_cast<int>(value.kind) << ", " << value.boolean << ", " << value.number << ", \""
        << value.text << "\")";
}

}  // namespace tapforge

namespace tapforge::test {

class ScratchFolder {
public:
    ScratchFolder() {
        // Short, so that Lua's chunk names (cut at 60 bytes) show whole paths in messages.
        static int counter = 0;
        path_ = std::filesystem::path("/tmp") / ("tfl" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

    // Writes `text` to `name` inside the folder (sub-folders created) and returns the full path.
    std::string write(const std::string& name, const std::string& text) const {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    std::filesystem::path path_;
};

class GuardedTest : public ::testing::Test {
protected:
    void SetUp() override { resetGuard(); }
    void TearDown() override { resetGuard(); }
    static void resetGuard() {
        tfg_request_interrupt(0);
        tfg_set_deadline_ms(0);
        setLuaGuardClock(nullptr);
    }
};

}  // namespace tapforge::test
