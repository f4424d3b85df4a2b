// The Lua step host of the runner: one Lua state per run (created in setUpRun, shared by
// every Lua step of the run, dropped in tearDownRun) with the macro library installed, the
// run-time guard's deadline per step, file resolution, and the Lua step's log lines.
//
// Threads: as LuaStepHost — setUpRun, runStep and tearDownRun on the runner's worker;
// setInterrupt from any thread. Runs must not overlap (the guard is process-wide).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "engine/LuaStep.h"
#include "lua/LuaRuntime.h"
#include "platform/Desktop.h"

namespace tapforge {

class LuaMacroAPI;

class LuaMacroHost final : public LuaStepHost {
public:
    // `desktop` provides the screens and the grab the macro library looks at.
    explicit LuaMacroHost(platform::Desktop desktop, size_t memoryLimitBytes = LuaRuntime::kDefaultMemoryLimitBytes);
    ~LuaMacroHost() override;

    void setUpRun(const LuaRunContext& context) override;
    LuaStepResult runStep(const Step& step) override;
    void tearDownRun() override;
    void setInterrupt(bool interrupt) override;

    // The "=tfg_package_path" chunk that puts `folder`/?.lua first on package.path, unless
    // it is first already (so a looping script does not grow the path on every pass).
    static std::string packagePathChunk(const std::string& folder);

private:
    platform::Desktop desktop_;
    size_t memoryLimitBytes_;
    std::optional<LuaRunContext> context_;
    std::unique_ptr<LuaMacroAPI> api_;
    std::unique_ptr<LuaRuntime> runtime_;   // destroyed before api_: closing may call into it
};

}  // namespace tapforge
