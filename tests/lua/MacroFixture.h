// A macro library installed into a fresh Lua state over a simulated desktop: one white 400 × 300
// screen at scale 1 on the purely virtual clock, the pointer at (50, 60), a red square at
// (100, 100) and a green one at (200, 100), both 20 wide, the "logo" template drawn at
// (300, 40), "absent" on no screen, "broken" undecodable; log lines collected.
#pragma once

#include <string>
#include <vector>

#include "../vision/VisionTestSupport.h"
#include "LuaTestSupport.h"
#include "input/InputPlayer.h"
#include "lua/LuaMacroAPI.h"
#include "platform/sim/SimDesktop.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::test {

using platform::sim::PostedEvent;
using platform::sim::SimDesktop;
using Strings = std::vector<std::string>;

inline ImageTemplate templateOf(const std::string& name, const platform::RgbaImage& image) {
    ImageTemplate t;
    t.name = name;
    t.widthPoints = image.width, t.heightPoints = image.height;
    t.pngBase64 = vision::encodeBase64(*vision::PngCodec::encode(image));
    return t;
}

class MacroTest : public GuardedTest {
protected:
    void SetUp() override {
        GuardedTest::SetUp();
        sim = SimDesktop::create();
        sim->addScreen({0, 0, 400, 300}, 1.0, {255, 255, 255, 255});
        sim->setPointer({50, 60});
        sim->fill({100, 100, 20, 20}, {255, 0, 0, 255});
        sim->fill({200, 100, 20, 20}, {0, 255, 0, 255});
        const auto logo = vision::test::noise(24, 16, 7);
        sim->draw(logo, {300, 40});
        setLuaGuardClock(sim->desktop().clock);
        player = std::make_unique<InputPlayer>(sim->desktop().events, sim->desktop().clock);

        LuaMacroAPI::Context context{player.get(), &sim->clock(), sim->desktop().screens, sim->desktop().grab, {}, {}};
        context.templates = {{"logo", templateOf("logo", logo)}, {"absent", templateOf("absent", vision::test::noise(20, 20, 99))},
                             {"broken", templateOf("broken", vision::test::noise(10, 10, 1))}};
        context.templates["broken"].pngBase64 = "not base64!";
        context.log = [this](const std::string& line) { logs.push_back(line); };
        runtime = LuaRuntime::create();
        ASSERT_TRUE(runtime);
        api = std::make_unique<LuaMacroAPI>(std::move(context));
        api->install(*runtime);
    }
    void TearDown() override {
        runtime.reset();   // before the API its functions call
        api.reset();
        GuardedTest::TearDown();
    }

    // The chunk's results, or its error, as one line (see show).
    std::string eval(const std::string& code) { return show(runtime->runFile(folder.write("v.lua", code))); }

    // The input posted, in order: "left@100,200#2" a button press (click state last), "^" its
    // release at the same place, "^left@7,8" a release elsewhere, "scroll-3@50,60", "down 55".
    std::string inputs() const {
        static const char* const buttons[] = {"left", "right", "center"};
        std::string out;
        const PostedEvent* pressed = nullptr;
        for (const PostedEvent& e : sim->postedEvents()) {
            const bool down = e.press == platform::Press::down, button = e.kind == PostedEvent::Kind::button;
            if (button && !down && pressed && pressed->button == e.button && pressed->location == e.location) {
                out += "^", pressed = nullptr;
                continue;
            }
            const std::string at = "@" + std::to_string(static_cast<int>(e.location.x)) + "," +
                                   std::to_string(static_cast<int>(e.location.y));
            if (e.kind == PostedEvent::Kind::key) out += (down ? " down " : " up ") + std::to_string(e.keyCode);
            else if (e.kind == PostedEvent::Kind::scroll) out += " scroll" + std::to_string(e.scrollLines) + at;
            else if (button) out += std::string(down ? " " : " ^") + buttons[static_cast<int>(e.button)] + at +
                                    (down ? "#" + std::to_string(e.clickState) : "");
            if (e.kind != PostedEvent::Kind::move) pressed = button && down ? &e : nullptr;
        }
        return out.empty() ? out : out.substr(1);
    }
    int64_t nowMs() const { return sim->clock().nowMicros() / 1000; }

    ScratchFolder folder;
    std::shared_ptr<SimDesktop> sim;
    std::unique_ptr<InputPlayer> player;
    std::unique_ptr<LuaRuntime> runtime;
    std::unique_ptr<LuaMacroAPI> api;
    Strings logs;
};

}  // namespace tapforge::test
