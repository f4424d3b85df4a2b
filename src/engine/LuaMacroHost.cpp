#include "engine/LuaMacroHost.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

#include "lua/LuaGuard.h"
#include "lua/LuaMacroAPI.h"
#include "platform/Clock.h"

namespace tapforge {

namespace {

std::string escapedForLuaString(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

LuaMacroHost::LuaMacroHost(platform::Desktop desktop, size_t memoryLimitBytes)
    : desktop_(std::move(desktop)), memoryLimitBytes_(memoryLimitBytes) {}

LuaMacroHost::~LuaMacroHost() { tearDownRun(); }

std::string LuaMacroHost::packagePathChunk(const std::string& folder) {
    const std::string entry = escapedForLuaString(folder + "/?.lua");
    return "local entry = \"" + entry + "\"\n"
           "local path = package.path\n"
           "if path ~= entry and path:sub(1, #entry + 1) ~= entry .. ';' then\n"
           "  package.path = entry .. ';' .. path\n"
           "end\n";
}

void LuaMacroHost::setUpRun(const LuaRunContext& context) {
    tearDownRun();
    context_.emplace(context);
    // The guard reads time from the run's clock (virtual on the simulated desktop). The run
    // outlives the state, so a non-owning pointer is enough.
    setLuaGuardClock(std::shared_ptr<platform::Clock>(std::shared_ptr<platform::Clock>(), &context.clock));

    runtime_ = LuaRuntime::create(memoryLimitBytes_);
    if (!runtime_) {
        context.log("⚠️ Lua 运行时初始化失败");
        return;
    }
    LuaMacroAPI::Context apiContext;
    apiContext.player = &context.player;
    apiContext.clock = &context.clock;
    apiContext.screens = desktop_.screens;
    apiContext.grab = desktop_.grab;
    for (const ImageTemplate& t : context.script.templates)
        if (!t.name.empty()) apiContext.templates[t.name] = t;   // a later namesake replaces
    apiContext.log = context.log;
    std::vector<std::string> names;
    for (const auto& entry : apiContext.templates) names.push_back(entry.first);

    api_ = std::make_unique<LuaMacroAPI>(std::move(apiContext));
    api_->install(*runtime_);

    if (!names.empty()) {
        std::sort(names.begin(), names.end());
        std::string line = "Lua 可用模板库：";
        for (size_t i = 0; i < names.size(); ++i) line += (i ? ", " : "") + names[i];
        context.log(line);
    }
}

LuaStepResult LuaMacroHost::runStep(const Step& step) {
    if (!context_) return LuaStepResult::failed();
    const LuaRunContext& context = *context_;
    if (!runtime_ || !api_) {
        context.log("⚠️ Lua 运行时不可用");
        return LuaStepResult::failed();
    }
    if (step.luaFile.empty()) {
        context.log("⚠️ Lua 步骤未选择 .lua 文件");
        return LuaStepResult::failed();
    }
    const auto file = resolveLuaFile(step.luaFile, context.baseDirectory);
    if (!file) {
        context.log("⚠️ 找不到 Lua 文件：" + step.luaFile);
        return LuaStepResult::failed();
    }

    api_->jumpStepNumber.reset();
    api_->stopRequested = false;
    api_->exitRequested = false;
    int64_t deadline = 0;
    if (step.timeoutMs >= 1) {
        const int64_t now = tfg_now_ms();
        const int64_t latest = std::numeric_limits<int64_t>::max();
        deadline = step.timeoutMs > latest - now ? latest : now + step.timeoutMs;
    }
    // The run's own time limit bounds a Lua step too, whatever the step allows.
    if (context.runDeadlineMs > 0) deadline = deadline > 0 ? std::min(deadline, context.runDeadlineMs) : context.runDeadlineMs;
    tfg_set_deadline_ms(deadline);
    (void)runtime_->runString(packagePathChunk(file->parent_path().string()), "=tfg_package_path");

    context.log("▶︎ Lua：" + file->filename().string());
    const int64_t startMicros = context.clock.nowMicros();
    auto [outcome, values] = runtime_->runFile(file->string());
    tfg_set_deadline_ms(0);
    const double elapsedMs = static_cast<double>(context.clock.nowMicros() - startMicros) / 1000.0;

    if (api_->exitRequested) {
        context.log("⏹ Lua 调用了 os.exit，脚本按要求停止");
        return LuaStepResult::stop();
    }
    if (!outcome.succeeded) {
        if (tfg_interrupt_requested()) {
            context.log("⏹ Lua 脚本被中断");
            return LuaStepResult::failed();
        }
        context.log("✘ Lua 出错：" + outcome.message);
        return LuaStepResult::errored();
    }
    char finished[96];
    std::snprintf(finished, sizeof finished, "✔︎ Lua 执行完成（%.0f ms）", elapsedMs);
    context.log(finished);

    if (api_->stopRequested) {
        context.log("⏹ Lua 请求停止脚本");
        return LuaStepResult::stop();
    }
    if (api_->jumpStepNumber) {
        const int64_t n = *api_->jumpStepNumber;
        const auto count = static_cast<int64_t>(context.script.steps.size());
        if (n >= 1 && n <= count) {
            context.log("↷ Lua 请求跳转到第 " + std::to_string(n) + " 步");
            return LuaStepResult::jump(context.script.steps[static_cast<size_t>(n - 1)].id);
        }
        context.log("⚠️ Lua 请求跳转到第 " + std::to_string(n) + " 步，但脚本没有这个步骤");
        return LuaStepResult::passed();
    }
    if (!values.empty() && values.front().kind == LuaValue::Kind::boolean && !values.front().boolean)
        return LuaStepResult::failed();
    return LuaStepResult::passed();
}

void LuaMacroHost::tearDownRun() {
    if (!context_ && !runtime_ && !api_) return;
    tfg_set_deadline_ms(0);
    runtime_.reset();
    api_.reset();
    context_.reset();
    setLuaGuardClock(nullptr);
}

void LuaMacroHost::setInterrupt(bool interrupt) { tfg_request_interrupt(interrupt ? 1 : 0); }

}  // namespace tapforge
