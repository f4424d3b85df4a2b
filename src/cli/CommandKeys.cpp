// tapforge-cli keys: every key name and modifier word that shortcuts, --stop-key and Lua's
// keyboard functions accept, grouped as the key map groups them.
#include <iostream>

#include "cli/Cli.h"
#include "input/keymap/KeyMap.h"

namespace tapforge::cli {

namespace {

int runKeys(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::cerr << "usage: tapforge-cli keys\n";
        return 2;
    }
    std::string out;
    for (const KeyMap::NameGroup& group : KeyMap::nameGroups()) {
        out.append(group.title).append("\n");
        for (uint16_t code : group.codes) {
            out.append("  ").append(KeyMap::name(code));
            const std::vector<std::string> aliases = KeyMap::aliases(code);
            for (size_t i = 0; i < aliases.size(); ++i) out.append(i ? ", " : "（也可写 ").append(aliases[i]);
            if (!aliases.empty()) out.append("）");
            out.append("\t键码 ").append(std::to_string(code)).append("\n");
        }
    }
    out.append("修饰词\n");
    for (const KeyMap::ModifierWords& entry : KeyMap::modifierWords()) {
        out.append("  ").append(entry.modifier.symbols()).append("\t");
        for (size_t i = 0; i < entry.words.size(); ++i) out.append(i ? ", " : "").append(entry.words[i]);
        out.append("\n");
    }
    out.append("名称不区分大小写；也可直接写十进制键码（如 36）。组合键用 + 连接，如 cmd+shift+s。\n");
    std::cout << out << std::flush;
    return std::cout ? 0 : 1;
}

const CommandRegistration registration({
    "keys",
    "keys",
    "列出快捷键、--stop-key 和 Lua keyboard 函数接受的所有按键名称与修饰词",
    runKeys,
});

}  // namespace

}  // namespace tapforge::cli
