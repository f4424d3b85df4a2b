// What the step inspector needs from the application: the step binding (read the step by id,
// write it back whole), the script's steps and templates for its pickers, and the controller's
// picking, testing and Lua-file operations. The application's adapter forwards everything to
// AppState, so each write schedules the autosave and is one undo step.
//
// Threads: main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/CheckOutcome.h"
#include "model/Script.h"
#include "model/Step.h"
#include "model/Uuid.h"
#include "platform/Geometry.h"

namespace tapforge::ui {

class InspectorHost {
public:
    virtual ~InspectorHost() = default;

    // A placeholder comment step (with a fresh id) when `id` is not in the script.
    virtual Step readStep(const Uuid& id) const = 0;
    // Replaces the step with the same id (dropped when there is none). Consecutive writes with
    // the same non-empty `mergeKey` (one field being typed in) merge into one undo step.
    virtual void writeStep(const Step& step, const std::string& mergeKey) = 0;
    virtual const Script& script() const = 0;

    virtual void pickPoint(const Uuid& stepID) = 0;
    // A point for a branch click; `done` receives it (not called when the user cancels).
    virtual void pickAnyPoint(std::function<void(platform::Point)> done) = 0;
    virtual void pickColors(const Uuid& stepID) = 0;
    virtual void captureTemplate(const Uuid& stepID) = 0;
    virtual void testStep(const Uuid& stepID) = 0;
    virtual void testLuaStep(const Uuid& stepID) = 0;
    virtual void chooseLuaFile(const Uuid& stepID) = 0;
    virtual void createLuaSample(const Uuid& stepID) = 0;
    virtual void openLuaFile(const std::string& path) = 0;
    virtual void revealLuaFile(const std::string& path) = 0;
    // Both answer at once whatever the path names (a FIFO, a device, a huge file).
    virtual std::string luaFileInfo(const std::string& path) = 0;
    virtual std::optional<std::string> luaFilePreview(const std::string& path, int maxLines) = 0;

    // The last test or run of a colour or image check of that step, if any.
    virtual const app::CheckOutcome* lastCheckOutcome(const Uuid& stepID) const = 0;
};

}  // namespace tapforge::ui
