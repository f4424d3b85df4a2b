// tapforge-cli: the headless entry of Tapforge. Dispatches to the registered commands.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"

namespace tapforge::cli {

std::vector<Command>& commandTable() {
    static std::vector<Command> table;
    return table;
}

bool readFile(const std::string& path, std::string& contents, std::string& error, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (limit == SIZE_MAX) {
        std::ostringstream buffer;
        buffer << in.rdbuf();
        contents = std::move(buffer).str();
    } else {
        contents.clear();
        char chunk[65536];
        while (contents.size() <= limit && in.read(chunk, sizeof chunk).gcount() > 0)
            contents.append(chunk, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace tapforge::cli

namespace {

void printHelp(std::ostream& out) {
    auto commands = tapforge::cli::commandTable();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    out << "usage: tapforge-cli COMMAND [ARGS...]\n\ncommands:\n";
    for (const auto& c : commands) out << "  " << c.usage << "\n      " << c.summary << "\n";
    out << "\n`tapforge-cli COMMAND --help` shows one command's usage.\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printHelp(std::cerr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(std::cout);
        return 0;
    }
    for (const auto& c : tapforge::cli::commandTable()) {
        if (c.name != args[0]) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
            std::cout << "usage: tapforge-cli " << c.usage << "\n" << c.summary << "\n";
            return 0;
        }
        return c.run(rest);
    }
    std::cerr << "tapforge-cli: unknown command '" << args[0] << "'\n";
    printHelp(std::cerr);
    return 2;
}
