// tapforge-cli format FILE [--compact]: reads a script and writes it again to stdout.
#include <iostream>

#include "cli/Cli.h"
#include "cli/ScriptFile.h"
#include "model/ScriptJson.h"

namespace tapforge::cli {

namespace {

int runFormat(const std::vector<std::string>& args) {
    std::string path;
    JsonStyle style = JsonStyle::pretty;
    for (const std::string& arg : args) {
        if (arg == "--compact") {
            style = JsonStyle::compact;
        } else if (path.empty() && arg.rfind("--", 0) != 0) {
            path = arg;
        } else {
            std::cerr << "usage: tapforge-cli format FILE [--compact]\n";
            return 2;
        }
    }
    if (path.empty()) {
        std::cerr << "usage: tapforge-cli format FILE [--compact]\n";
        return 2;
    }
    std::string error;
    const auto script = loadScriptFile(path, error);
    if (!script) return reportOpenFailure(error);
    const ScriptEncodeResult encoded = encodeScript(*script, style);
    if (!encoded) {
        std::cerr << "写入失败：" << encoded.error << "\n";
        return 2;
    }
    std::cout << *encoded.json;
    if (style == JsonStyle::compact) std::cout << '\n';
    std::cout << std::flush;
    return std::cout ? 0 : 1;
}

const CommandRegistration registration({
    "format",
    "format FILE [--compact]",
    "读取脚本文件并重新编码输出到标准输出（默认缩进格式，--compact 为紧凑格式）",
    runFormat,
});

}  // namespace

}  // namespace tapforge::cli
