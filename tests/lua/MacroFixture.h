// A macro library installed into a fresh Lua state over a simulated desktop: one 400 × 300
// screen at scale 1 on the purely virtual clock, the pointer at (50, 60), log lines collected.
#pragma once

#include <string>
#include <vector>

#include "LuaTestSupport.h"
#include "input/InputPlayer.h"
#include "lua/LuaMacroAPI.h"
#include "platform/sim/SimDesktop.h"

namespace tapforge::test {

using platform::sim::PostedEvent;
using platform::sim::SimClock;
using platform::sim::SimDesktop;

class MacroTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        sim = SimDesktop::create();
        sim->addScreen({0, 0, 400, 300}, 1.0, {255, 255, 255, 255});
        sim->setPointer({50, 60});
        setLuaGuardClock(sim->desktop().clock);
        player = std::make_unique<InputPlayer>(sim->desktop().events, sim->desktop().clock);
        makeAPI({});
        ASSERT_TRUE(runtime);
    }
    void TearDown() override {
        runtime.reset();   // before the API its functions call
        api.reset();
        GuardedTest::TearDown();
    }

    void makeAPI(std::map<std::string, ImageTemplate> templates) {
        LuaMacroAPI::Context context;
        context.player = player.get();
        context.clock = &sim->clock();
        context.screens = sim->desktop().screens;
        context.grab = sim->desktop().grab;
        context.templates = std::move(templates);
        context.log = [this](const std::string& line) { logs.push_back(line); };
        runtime = LuaRuntime::create();
        api = std::make_unique<LuaMacroAPI>(std::move(context));
        api->install(*runtime);
    }

    LuaRunOutcome run(const std::string& code) { return runtime->runString(code, "=test"); }
    // The values a chunk returns (a failure as one string "FAILED: message").
    std::vector<LuaValue> values(const std::string& code) {
        auto [outcome, result] = runtime->runFile(folder.write("v.lua", code));
        if (!outcome.succeeded) return {LuaValue::makeString("FAILED: " + outcome.message)};
        return result;
    }
    LuaValue value(const std::string& code) {
        auto result = values(code);
        return result.empty() ? LuaValue::makeNil() : result.front();
    }
    // The error text of a call expected to raise one.
    std::string errorOf(const std::string& code) {
        const LuaRunOutcome outcome = run(code);
        return outcome.succeeded ? "(no error)" : outcome.message;
    }

    // Button presses as "left@100,200#2" (button, point, click state), in order.
    std::vector<std::string> presses() const {
        std::vector<std::string> out;
        for (const PostedEvent& e : sim->postedEvents()) {
            if (e.kind != PostedEvent::Kind::button || e.press != platform::Press::down) continue;
            const char* name = e.button == platform::PointerButton::left    ? "left"
                               : e.button == platform::PointerButton::right ? "right"
                                                                            : "center";
            out.push_back(std::string(name) + "@" + std::to_string(static_cast<int>(e.location.x)) + "," +
                          std::to_string(static_cast<int>(e.location.y)) + "#" + std::to_string(e.clickState));
        }
        return out;
    }
    // Key events as "down 55", "up 8", in order.
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        for (const PostedEvent& e : sim->postedEvents())
            if (e.kind == PostedEvent::Kind::key)
                out.push_back(std::string(e.press == platform::Press::down ? "down " : "up ") + std::to_string(e.keyCode));
        return out;
    }
    int64_t nowMs() const { return sim->clock().nowMicros() / 1000; }

    ScratchFolder folder;
    std::shared_ptr<SimDesktop> sim;
    std::unique_ptr<InputPlayer> player;
    std::unique_ptr<LuaRuntime> runtime;
    std::unique_ptr<LuaMacroAPI> api;
    std::vector<std::string> logs;
};

}  // namespace tapforge::test
