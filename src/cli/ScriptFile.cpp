#include "cli/ScriptFile.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/Cli.h"
#include "model/ScriptJson.h"

namespace tapforge::cli {

std::optional<Script> loadScriptFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": 是一个目录";
        return std::nullopt;
    }
    // A regular file larger than the decoder accepts is refused without reading it.
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxScriptDocumentBytes) {
        error = "文件过大（" + std::to_string(size / (1024 * 1024)) + " MiB），脚本文件不能超过 64 MiB";
        return std::nullopt;
    }
    std::string contents;
    if (!readFile(path, contents, error)) return std::nullopt;
    ScriptDecodeResult decoded = decodeScript(contents);
    if (!decoded) {
        error = std::move(decoded.error);
        return std::nullopt;
    }
    return std::move(decoded.script);
}

int reportOpenFailure(const std::string& error) {
    std::cerr << "打开失败：" << error << "\n";
    return 2;
}

}  // namespace tapforge::cli
