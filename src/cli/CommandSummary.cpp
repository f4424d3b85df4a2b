// tapforge-cli summary FILE: one line per step, as the step list shows it.
#include <iostream>

#include "cli/Cli.h"
#include "cli/ScriptFile.h"

namespace tapforge::cli {

namespace {

// Appends a field; tabs and line breaks inside it (a comment or typed text may hold them) become
// spaces so that each step stays one line of five tab-separated fields.
void appendField(std::string& out, const std::string& text) {
    for (char c : text) out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
}

int runSummary(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: tapforge-cli summary FILE\n";
        return 2;
    }
    std::string error;
    const auto script = loadScriptFile(args[0], error);
    if (!script) return reportOpenFailure(error);
    std::string out;
    for (size_t i = 0; i < script->steps.size(); ++i) {
        const Step& step = script->steps[i];
        out += std::to_string(i + 1);
        out += '\t';
        out += step.enabled ? '1' : '0';
        out += '\t';
        appendField(out, step.title());
        out += '\t';
        appendField(out, step.summary());
        out += '\t';
        appendField(out, step.branchSummary(script->steps).value_or(""));
        out += '\n';
    }
    std::cout << out << std::flush;
    return std::cout ? 0 : 1;
}

const CommandRegistration registration({
    "summary",
    "summary FILE",
    "打印脚本的每一步：序号、是否启用、标题、摘要、分支（以制表符分隔）",
    runSummary,
});

}  // namespace

}  // namespace tapforge::cli
