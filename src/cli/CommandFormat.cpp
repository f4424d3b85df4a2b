// tapforge-cli format FILE [--compact] [--output OUT | --in-place]: reads a script and writes it
// again, to standard output by default. A file is written atomically, so `--in-place` (or an
// OUT that is FILE) never leaves a half-written or empty script behind.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>

#include "cli/Cli.h"
#include "cli/ScriptFile.h"
#include "model/ScriptJson.h"

namespace tapforge::cli {

namespace {

constexpr const char* kUsage = "usage: tapforge-cli format FILE [--compact] [--output OUT | --in-place]\n";

int runFormat(const std::vector<std::string>& args) {
    std::string path;
    std::optional<std::string> output;
    bool inPlace = false;
    JsonStyle style = JsonStyle::pretty;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--compact") {
            style = JsonStyle::compact;
        } else if (arg == "--in-place" && !output) {
            inPlace = true;
        } else if (arg == "--output" && !inPlace && !output && i + 1 < args.size()) {
            output = args[++i];
        } else if (path.empty() && arg.rfind("--", 0) != 0) {
            path = arg;
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (path.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    if (inPlace) output = path;
    std::string error;
    const auto script = loadScriptFile(path, error);
    if (!script) return reportOpenFailure(error);
    ScriptEncodeResult encoded = encodeScript(*script, style);
    if (!encoded) {
        std::cerr << "写入失败：" << encoded.error << "\n";
        return 2;
    }
    if (style == JsonStyle::compact) *encoded.json += '\n';
    if (output) {
        if (!writeFileAtomically(*output, *encoded.json, error)) {
            std::cerr << "写入失败：" << error << "\n";
            return 1;
        }
        return 0;
    }
    if (!writeAll(STDOUT_FILENO, *encoded.json)) {
        std::cerr << "写入失败：标准输出：" << std::strerror(errno) << "\n";
        return 1;
    }
    return 0;
}

const CommandRegistration registration({
    "format",
    "format FILE [--compact] [--output OUT | --in-place]",
    "读取脚本文件并重新编码（默认缩进格式，--compact 为紧凑格式），输出到标准输出，或以原子方式写入 OUT（--in-place 写回 FILE）",
    runFormat,
});

}  // namespace

}  // namespace tapforge::cli
