// Shared by the script decoder and encoder: where a value sits in the document, for messages
// that name the step and key, and the internal failure that carries such a message.
#pragma once

#include <cstddef>
#include <string>

namespace tapforge::detail {

struct Place {
    enum class Kind { document, step, stepBranch, stepPoint, stepTemplate, libraryTemplate };
    Kind kind = Kind::document;
    size_t index = 0;           // 1-based step or template number
    size_t pointIndex = 0;      // 1-based colour point number
    const char* name = nullptr; // branch key

    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + temporary at -O3.
    std::string text() const {
        std::string out;
        switch (kind) {
            case Kind::document: break;
            case Kind::step: out.append("第 ").append(std::to_string(index)).append(" 步"); break;
            case Kind::stepBranch:
                out.append("第 ").append(std::to_string(index)).append(" 步的 \"").append(name).append("\"");
                break;
            case Kind::stepPoint:
                out.append("第 ").append(std::to_string(index)).append(" 步的第 ");
                out.append(std::to_string(pointIndex)).append(" 个颜色点");
                break;
            case Kind::stepTemplate: out.append("第 ").append(std::to_string(index)).append(" 步的 \"template\""); break;
            case Kind::libraryTemplate: out.append("第 ").append(std::to_string(index)).append(" 个模板"); break;
        }
        return out;
    }
    // `"key"` with its owner: `第 3 步的 "mouseButton"`, `第 3 步的 "onSuccess" 中的 "kind"`.
    std::string keyText(const char* key) const {
        std::string out = text();
        if (!out.empty()) out.append(out.back() == '"' ? " 中的 " : "的 ");
        out.append("\"").append(key).append("\"");
        return out;
    }
    // The owner followed by a predicate: `第 2 个模板缺少 …`, `第 3 步的 "template" 缺少 …`.
    std::string subject() const {
        std::string owner = text();
        if (!owner.empty() && owner.back() == '"') owner += ' ';
        return owner;
    }
};

struct CodingError {
    std::string message;
};

}  // namespace tapforge::detail
