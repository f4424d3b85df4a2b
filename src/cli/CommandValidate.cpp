// tapforge-cli validate FILE: reads a script and reports, one line per finding with its step
// number, what would misbehave when it runs. Exit 0 without findings, 1 with, 2 when the
// file cannot be read.
#include <filesystem>
#include <iostream>
#include <optional>

#include "cli/Cli.h"
#include "cli/ScriptFile.h"
#include "engine/LuaStep.h"
#include "vision/TemplateCache.h"

namespace tapforge::cli {

namespace {

// Where a branch sends the run: the index of its step, or nothing when it goes on with the
// next step or stops. `missing` is set for a jump whose target is not in the script.
std::optional<size_t> branchTarget(const BranchTarget& branch, const std::vector<Step>& steps, bool& missing) {
    std::optional<Uuid> target;
    bool restart = false;
    if (branch.kind == BranchKind::jump) {
        target = branch.targetStepID;
    } else if (branch.kind == BranchKind::restart) {
        restart = true;
    } else if (branch.kind == BranchKind::click || branch.kind == BranchKind::clickRegion || branch.kind == BranchKind::key) {
        if (branch.afterAction == AfterAction::jump) target = branch.afterStepID;
        restart = branch.afterAction == AfterAction::restart;
        if (branch.afterAction != AfterAction::jump && !restart) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (restart) return size_t{0};
    for (size_t i = 0; i < steps.size(); ++i)
        if (target && steps[i].id == *target) return i;
    missing = true;
    return std::nullopt;
}

// Whether running the enabled steps first … last (inclusive) takes any time on purpose.
bool waitsBetween(const std::vector<Step>& steps, size_t first, size_t last) {
    for (size_t i = first; i <= last; ++i) {
        const Step& s = steps[i];
        if (!s.enabled) continue;
        if (s.kind == StepKind::delay && s.delayMs > 0) return true;
        if ((s.kind == StepKind::colorCheck || s.kind == StepKind::imageCheck) && s.waitForCondition && s.timeoutMs > 0)
            return true;
    }
    return false;
}

std::vector<std::string> findings(const Script& script, const std::filesystem::path& folder) {
    std::vector<std::string> out;
    const auto& steps = script.steps;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string at = "第 " + std::to_string(i + 1) + " 步：";
        auto report = [&](const std::string& text) { out.push_back(at + text); };

        if (step.kind == StepKind::goTo) {
            bool missing = false;
            BranchTarget jump;
            jump.kind = BranchKind::jump;
            jump.targetStepID = step.gotoStepID;
            branchTarget(jump, steps, missing);
            if (missing) report(step.gotoStepID ? "跳转目标步骤不存在" : "跳转步骤未选择目标");
        }
        if (step.kind == StepKind::keyPress && !step.keyCode) report("按键步骤未设置按键");
        if (step.kind == StepKind::imageCheck) {
            if (!step.imageTemplate || step.imageTemplate->pngBase64.empty())
                report("图像判断没有设置图片");
            else if (!vision::TemplateCache::shared().image(*step.imageTemplate))
                report("图像判断的图片无法解码");
        }
        if (step.kind == StepKind::lua) {
            if (step.luaFile.empty())
                report("Lua 步骤未选择 .lua 文件");
            else if (!resolveLuaFile(step.luaFile, folder))
                report("找不到 Lua 文件：" + step.luaFile);
        }
        if (step.kind == StepKind::colorCheck || step.kind == StepKind::imageCheck || step.kind == StepKind::lua) {
            const std::pair<const BranchTarget*, const char*> branches[] = {{&step.onSuccess, "成功"},
                                                                           {&step.onFailure, "失败"}};
            for (const auto& [branch, name] : branches) {
                bool missing = false;
                const std::optional<size_t> target = branchTarget(*branch, steps, missing);
                if (missing) report(std::string(name) + "分支的跳转目标步骤不存在");
                // A failure that goes back without any wait repeats as fast as the machine
                // runs, for as long as the condition keeps failing.
                if (branch == &step.onFailure && target && *target <= i && !waitsBetween(steps, *target, i))
                    report("失败分支跳回第 " + std::to_string(*target + 1) + " 步，其间没有任何等待，可能无限循环");
            }
        }
    }
    return out;
}

int runValidate(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: tapforge-cli validate FILE\n";
        return 2;
    }
    std::string error;
    const auto script = loadScriptFile(args[0], error);
    if (!script) return reportOpenFailure(error);
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(args[0], ec).parent_path();
    const std::vector<std::string> found = findings(*script, folder);
    for (const std::string& line : found) std::cout << line << "\n";
    if (found.empty()) std::cout << "未发现问题\n";
    std::cout << std::flush;
    return found.empty() ? 0 : 1;
}

const CommandRegistration registration({
    "validate",
    "validate FILE",
    "检查脚本：不存在的跳转目标、空的或无法解码的图片、找不到的 Lua 文件、未设置按键的按键步骤、"
    "没有等待就跳回的失败分支；无问题退出 0，有问题退出 1，无法读取退出 2",
    runValidate,
});

}  // namespace

}  // namespace tapforge::cli
