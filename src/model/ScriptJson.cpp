#include "model/ScriptJson.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "model/TextFormat.h"

namespace tapforge {

namespace {

using Json = nlohmann::json;

// ---------------------------------------------------------------------------------------------
// Where a value sits in the document, rendered only when a message needs it.

struct Place {
    enum class Kind { document, step, stepBranch, stepPoint, stepTemplate, libraryTemplate };
    Kind kind = Kind::document;
    size_t index = 0;           // 1-based step or template number
    size_t pointIndex = 0;      // 1-based colour point number
    const char* name = nullptr; // branch key

    std::string text() const {
        switch (kind) {
            case Kind::document: return {};
            case Kind::step: return "第 " + std::to_string(index) + " 步";
            case Kind::stepBranch: return "第 " + std::to_string(index) + " 步的 \"" + name + "\"";
            case Kind::stepPoint:
                return "第 " + std::to_string(index) + " 步的第 " + std::to_string(pointIndex) + " 个颜色点";
            case Kind::stepTemplate: return "第 " + std::to_string(index) + " 步的 \"template\"";
            case Kind::libraryTemplate: return "第 " + std::to_string(index) + " 个模板";
        }
        return {};
    }
    // `"key"` with its owner: `第 3 步的 "mouseButton"`, `第 3 步的 "onSuccess" 中的 "kind"`.
    std::string keyText(const char* key) const {
        const std::string owner = text();
        const std::string quotedKey = "\"" + std::string(key) + "\"";
        if (owner.empty()) return quotedKey;
        return owner + (owner.back() == '"' ? " 中的 " : "的 ") + quotedKey;
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

// ---------------------------------------------------------------------------------------------
// Decoding

const char* typeName(const Json& v) {
    switch (v.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return "布尔值";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float: return "数字";
        case Json::value_t::string: return "字符串";
        case Json::value_t::array: return "数组";
        case Json::value_t::object: return "对象";
        default: return "未知类型";
    }
}

// A value quoted in a message; long strings are cut so a hostile file cannot flood the alert.
std::string quoted(const Json& v) {
    if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        const std::string_view head = detail::leadingCharacters(s, 40);
        return "\"" + std::string(head) + (head.size() < s.size() ? "…" : "") + "\"";
    }
    return v.dump();
}

[[noreturn]] void failType(const Place& place, const char* key, const char* expected, const Json& v) {
    throw CodingError{place.keyText(key) + " 应为" + expected + "，实际为" + typeName(v)};
}

[[noreturn]] void failRange(const Place& place, const char* key, const char* range, const Json& v) {
    throw CodingError{place.keyText(key) + " 超出范围（" + range + "）：" + quoted(v)};
}

class ObjectReader {
public:
    ObjectReader(const Json& object, const Place& place, bool allRequired)
        : object_(object), place_(place), allRequired_(allRequired) {}

    // The value of `key`, or nothing when missing or null (which fails for required keys).
    const Json* find(const char* key) const {
        const auto it = object_.find(key);
        if (it == object_.end() || it->is_null()) {
            if (allRequired_) throw CodingError{place_.subject() + "缺少 \"" + key + "\""};
            return nullptr;
        }
        return &*it;
    }

    void read(const char* key, std::string& out) const {
        if (const Json* v = find(key)) {
            if (!v->is_string()) failType(place_, key, "字符串", *v);
            out = v->get_ref<const std::string&>();
        }
    }

    void read(const char* key, bool& out) const {
        if (const Json* v = find(key)) {
            if (!v->is_boolean()) failType(place_, key, "布尔值（true 或 false）", *v);
            out = v->get<bool>();
        }
    }

    void read(const char* key, double& out) const {
        if (const Json* v = find(key)) {
            if (!v->is_number()) failType(place_, key, "数字", *v);
            out = v->get<double>();
        }
    }

    void read(const char* key, int64_t& out) const {
        if (const Json* v = find(key)) out = integer(key, *v);
    }

    void read(const char* key, ModifierSet& out) const {
        if (const Json* v = find(key)) out.rawValue = integer(key, *v);
    }

    void read(const char* key, std::optional<uint16_t>& out) const {
        if (const Json* v = find(key)) {
            const int64_t code = integer(key, *v);
            if (code < 0 || code > 65535) failRange(place_, key, "0…65535", *v);
            out = static_cast<uint16_t>(code);
        }
    }

    void read(const char* key, Uuid& out) const {
        if (const Json* v = find(key)) out = uuid(key, *v);
    }

    void read(const char* key, std::optional<Uuid>& out) const {
        if (const Json* v = find(key)) out = uuid(key, *v);
    }

    template <class E>
        requires std::is_enum_v<E>
    void read(const char* key, E& out) const {
        if (const Json* v = find(key)) {
            if (!v->is_string()) failType(place_, key, "字符串", *v);
            const auto value = fromRawValue<E>(v->get_ref<const std::string&>());
            if (!value) {
                std::string allowed;
                for (const auto& c : EnumTable<E>::cases) allowed += (allowed.empty() ? "" : "、") + std::string(c.raw);
                throw CodingError{place_.keyText(key) + " 的值 " + quoted(*v) + " 无效，可用的值：" + allowed};
            }
            out = *value;
        }
    }

    // An array value, or nothing when missing or null.
    const Json* array(const char* key) const {
        const Json* v = find(key);
        if (v && !v->is_array()) failType(place_, key, "数组", *v);
        return v;
    }

    const Json* object(const char* key) const {
        const Json* v = find(key);
        if (v && !v->is_object()) failType(place_, key, "对象", *v);
        return v;
    }

private:
    // A whole number in the signed 64-bit range. JSON does not tell 3 from 3.0, so a float is
    // taken when it is whole and small enough (2^53) that it is exactly the number written.
    int64_t integer(const char* key, const Json& v) const {
        switch (v.type()) {
            case Json::value_t::number_integer: return v.get<int64_t>();
            case Json::value_t::number_unsigned: {
                const uint64_t u = v.get<uint64_t>();
                if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                    failRange(place_, key, "64 位有符号整数", v);
                return static_cast<int64_t>(u);
            }
            case Json::value_t::number_float: {
                const double d = v.get<double>();
                if (d != std::trunc(d)) failType(place_, key, "整数", v);
                if (std::fabs(d) > 9007199254740992.0) failRange(place_, key, "64 位有符号整数", v);
                return static_cast<int64_t>(d);
            }
            default: failType(place_, key, "整数", v);
        }
    }

    Uuid uuid(const char* key, const Json& v) const {
        if (!v.is_string()) failType(place_, key, "UUID 字符串", v);
        const auto parsed = Uuid::parse(v.get_ref<const std::string&>());
        if (!parsed) throw CodingError{place_.keyText(key) + " 不是有效的 UUID：" + quoted(v)};
        return *parsed;
    }

    const Json& object_;
    const Place& place_;
    bool allRequired_;
};

void requireObject(const Json& v, const Place& place) {
    if (!v.is_object()) throw CodingError{place.subject() + "应为对象，实际为" + typeName(v)};
}

ImageTemplate decodeTemplate(const Json& v, const Place& place) {
    requireObject(v, place);
    const ObjectReader r(v, place, /*allRequired=*/true);
    ImageTemplate t;
    r.read("name", t.name);
    r.read("widthPoints", t.widthPoints);
    r.read("heightPoints", t.heightPoints);
    r.read("originX", t.originX);
    r.read("originY", t.originY);
    r.read("pixelScale", t.pixelScale);
    r.read("pngBase64", t.pngBase64);
    return t;
}

ColorPoint decodeColorPoint(const Json& v, const Place& place) {
    requireObject(v, place);
    const ObjectReader r(v, place, /*allRequired=*/true);
    ColorPoint p;
    r.read("id", p.id);
    r.read("x", p.x);
    r.read("y", p.y);
    r.read("red", p.red);
    r.read("green", p.green);
    r.read("blue", p.blue);
    r.read("tolerance", p.tolerance);
    r.read("enabled", p.enabled);
    return p;
}

BranchTarget decodeBranch(const Json& v, const Place& place) {
    requireObject(v, place);
    const ObjectReader r(v, place, /*allRequired=*/false);
    BranchTarget b;
    r.read("kind", b.kind);
    r.read("targetStepID", b.targetStepID);
    r.read("clickX", b.clickX);
    r.read("clickY", b.clickY);
    r.read("clickHasPoint", b.clickHasPoint);
    r.read("clickButton", b.clickButton);
    r.read("clickCount", b.clickCount);
    r.read("keyCode", b.keyCode);
    r.read("keyModifiers", b.keyModifiers);
    r.read("afterAction", b.afterAction);
    r.read("afterStepID", b.afterStepID);
    return b;
}

Step decodeStep(const Json& v, size_t number) {
    const Place place{Place::Kind::step, number};
    requireObject(v, place);
    const ObjectReader r(v, place, /*allRequired=*/false);
    Step s;
    r.read("id", s.id);

    const Json* kind = r.find("kind");
    if (!kind) throw CodingError{place.text() + "缺少必需的 \"kind\""};
    if (!kind->is_string()) failType(place, "kind", "字符串", *kind);
    const std::string& rawKind = kind->get_ref<const std::string&>();
    const auto known = fromRawValue<StepKind>(rawKind);
    s.kind = known.value_or(StepKind::comment);

    r.read("enabled", s.enabled);
    r.read("note", s.note);
    if (!known) {
        // A kind this version does not know keeps the file loadable: the step becomes a comment
        // that says what it was.
        const std::string message = "原「" + rawKind + "」步骤已不再支持";
        s.note = s.note.empty() ? message : s.note + "（" + message + "）";
    }
    r.read("delayMs", s.delayMs);
    r.read("x", s.x);
    r.read("y", s.y);
    r.read("hasPoint", s.hasPoint);
    r.read("mouseButton", s.mouseButton);
    r.read("clickKind", s.clickKind);
    r.read("moveDurationMs", s.moveDurationMs);
    r.read("scrollAmount", s.scrollAmount);
    r.read("keyCode", s.keyCode);
    r.read("keyKind", s.keyKind);
    r.read("modifiers", s.modifiers);
    r.read("text", s.text);
    if (const Json* points = r.array("colorPoints")) {
        s.colorPoints.reserve(points->size());
        for (size_t i = 0; i < points->size(); ++i)
            s.colorPoints.push_back(decodeColorPoint((*points)[i], Place{Place::Kind::stepPoint, number, i + 1}));
    }
    r.read("colorMode", s.colorMode);
    if (const Json* t = r.find("template")) s.imageTemplate = decodeTemplate(*t, Place{Place::Kind::stepTemplate, number});
    r.read("threshold", s.threshold);
    r.read("searchFullScreen", s.searchFullScreen);
    r.read("searchMargin", s.searchMargin);
    r.read("clickOnMatch", s.clickOnMatch);
    r.read("waitForCondition", s.waitForCondition);
    r.read("timeoutMs", s.timeoutMs);
    r.read("pollMs", s.pollMs);
    r.read("gotoStepID", s.gotoStepID);
    if (const Json* b = r.find("onSuccess"))
        s.onSuccess = decodeBranch(*b, Place{Place::Kind::stepBranch, number, 0, "onSuccess"});
    if (const Json* b = r.find("onFailure"))
        s.onFailure = decodeBranch(*b, Place{Place::Kind::stepBranch, number, 0, "onFailure"});
    r.read("luaFile", s.luaFile);
    return s;
}

Script decodeDocument(const Json& root) {
    if (!root.is_object()) throw CodingError{std::string("文件内容应为 JSON 对象，实际为") + typeName(root)};
    const Place place{};
    const ObjectReader r(root, place, /*allRequired=*/false);
    Script script;
    r.read("name", script.name);
    if (const Json* steps = r.array("steps")) {
        script.steps.reserve(steps->size());
        for (size_t i = 0; i < steps->size(); ++i) script.steps.push_back(decodeStep((*steps)[i], i + 1));
    }
    r.read("loopCount", script.loopCount);
    r.read("stepIntervalMs", script.stepIntervalMs);
    if (const Json* templates = r.array("templates")) {
        script.templates.reserve(templates->size());
        for (size_t i = 0; i < templates->size(); ++i)
            script.templates.push_back(decodeTemplate((*templates)[i], Place{Place::Kind::libraryTemplate, i + 1}));
    }
    return script;
}

// Deepest nesting of arrays and objects, stopping as soon as it passes `limit`. Brackets inside
// strings do not count. On malformed input the count may differ from the parser's view only
// after the point where the parser itself fails, so it bounds what the parser can build.
bool nestingExceeds(std::string_view json, int limit) {
    int depth = 0;
    const char* p = json.data();
    const char* const end = p + json.size();
    while (p < end) {
        const char c = *p++;
        if (c == '"') {
            while (p < end) {
                const char s = *p++;
                if (s == '\\') {
                    if (p < end) ++p;
                } else if (s == '"') {
                    break;
                }
            }
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

std::string syntaxErrorMessage(std::string_view json, size_t byte) {
    // nlohmann reports the 1-based byte where it stopped; show line and column (in characters).
    const size_t stop = std::min(byte == 0 ? 0 : byte - 1, json.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < stop; ++i) {
        const unsigned char c = static_cast<unsigned char>(json[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "文件不是有效的 JSON（第 " + std::to_string(line) + " 行第 " + std::to_string(column) + " 列附近有语法错误）";
}

bool onlyWhitespace(std::string_view json) {
    return json.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// ---------------------------------------------------------------------------------------------
// Encoding: written by hand so that keys keep the table order, doubles take their shortest
// exact form and a non-finite number fails instead of turning into null.

class Writer {
public:
    Writer(JsonStyle style, size_t sizeHint) : pretty_(style == JsonStyle::pretty) { out_.reserve(sizeHint); }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    void key(std::string_view k) {
        separate();
        out_ += '"';
        out_ += k;   // keys are our own ASCII names
        out_ += pretty_ ? "\" : " : "\":";
        afterKey_ = true;
    }

    void value(const std::string& s) {
        separate();
        string(s);
    }
    void value(bool b) {
        separate();
        out_ += b ? "true" : "false";
    }
    void value(int64_t v) {
        separate();
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
        out_.append(buffer, result.ptr);
    }
    void value(double v, const Place& place, const char* key) {
        if (!std::isfinite(v))
            throw CodingError{place.keyText(key) + " 的数值不是有限数（" + detail::truncatedInteger(v) +
                              "），无法写入文件"};
        separate();
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);   // shortest exact form
        out_.append(buffer, result.ptr);
    }

    std::string take() { return std::move(out_); }

private:
    void open(char bracket) {
        separate();
        out_ += bracket;
        ++depth_;
        empty_ = true;
    }
    void close(char bracket) {
        --depth_;
        if (!empty_) newline();
        out_ += bracket;
        empty_ = false;
    }
    // Before any value or key: a comma after a sibling, and the line break of the pretty form.
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (depth_ == 0) return;
        if (!empty_) out_ += ',';
        empty_ = false;
        newline();
    }
    void newline() {
        if (!pretty_) return;
        out_ += '\n';
        out_.append(static_cast<size_t>(depth_) * 2, ' ');
    }

    // JSON string with the required escapes. Text that is not valid UTF-8 (possible only for
    // strings made in memory; parsed files are validated) is written with U+FFFD in place of
    // each bad byte, so the file always reads back.
    void string(std::string_view s) {
        out_ += '"';
        size_t run = 0;   // start of the pending run of bytes copied verbatim
        size_t i = 0;
        const auto flush = [&](size_t to) { out_.append(s.data() + run, to - run); };
        while (i < s.size()) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
                ++i;
                continue;
            }
            if (c >= 0x80) {
                const size_t n = validSequenceLength(s, i);
                if (n > 0) {
                    i += n;
                    continue;
                }
                flush(i);
                out_ += "\xEF\xBF\xBD";
                run = ++i;
                continue;
            }
            flush(i);
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\b': out_ += "\\b"; break;
                case '\f': out_ += "\\f"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default: {
                    static constexpr char hex[] = "0123456789abcdef";
                    out_ += "\\u00";
                    out_ += hex[c >> 4];
                    out_ += hex[c & 0xF];
                }
            }
            run = ++i;
        }
        flush(i);
        out_ += '"';
    }

    // Length of the well-formed UTF-8 sequence starting at a byte >= 0x80, or 0.
    static size_t validSequenceLength(std::string_view s, size_t i) {
        const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
        const unsigned char b0 = at(i);
        size_t n;
        unsigned char lo = 0x80, hi = 0xBF;   // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) n = 2;
        else if (b0 == 0xE0) n = 3, lo = 0xA0;
        else if (b0 >= 0xE1 && b0 <= 0xEC) n = 3;
        else if (b0 == 0xED) n = 3, hi = 0x9F;   // no surrogates
        else if (b0 >= 0xEE && b0 <= 0xEF) n = 3;
        else if (b0 == 0xF0) n = 4, lo = 0x90;
        else if (b0 >= 0xF1 && b0 <= 0xF3) n = 4;
        else if (b0 == 0xF4) n = 4, hi = 0x8F;
        else return 0;
        if (i + n > s.size()) return 0;
        if (at(i + 1) < lo || at(i + 1) > hi) return 0;
        for (size_t k = 2; k < n; ++k)
            if ((at(i + k) & 0xC0) != 0x80) return 0;
        return n;
    }

    std::string out_;
    bool pretty_;
    int depth_ = 0;
    bool empty_ = true;
    bool afterKey_ = false;
};

template <class E>
std::string raw(E e) {
    return std::string(rawValue(e));
}

void encodeTemplate(Writer& w, const ImageTemplate& t, const Place& place) {
    w.beginObject();
    w.key("name"), w.value(t.name);
    w.key("widthPoints"), w.value(t.widthPoints, place, "widthPoints");
    w.key("heightPoints"), w.value(t.heightPoints, place, "heightPoints");
    w.key("originX"), w.value(t.originX, place, "originX");
    w.key("originY"), w.value(t.originY, place, "originY");
    w.key("pixelScale"), w.value(t.pixelScale, place, "pixelScale");
    w.key("pngBase64"), w.value(t.pngBase64);
    w.endObject();
}

void encodeColorPoint(Writer& w, const ColorPoint& p, const Place& place) {
    w.beginObject();
    w.key("id"), w.value(p.id.string());
    w.key("x"), w.value(p.x, place, "x");
    w.key("y"), w.value(p.y, place, "y");
    w.key("red"), w.value(p.red);
    w.key("green"), w.value(p.green);
    w.key("blue"), w.value(p.blue);
    w.key("tolerance"), w.value(p.tolerance);
    w.key("enabled"), w.value(p.enabled);
    w.endObject();
}

void encodeBranch(Writer& w, const BranchTarget& b, const Place& place) {
    w.beginObject();
    w.key("kind"), w.value(raw(b.kind));
    if (b.targetStepID) w.key("targetStepID"), w.value(b.targetStepID->string());
    w.key("clickX"), w.value(b.clickX, place, "clickX");
    w.key("clickY"), w.value(b.clickY, place, "clickY");
    w.key("clickHasPoint"), w.value(b.clickHasPoint);
    w.key("clickButton"), w.value(raw(b.clickButton));
    w.key("clickCount"), w.value(b.clickCount);
    if (b.keyCode) w.key("keyCode"), w.value(int64_t{*b.keyCode});
    w.key("keyModifiers"), w.value(b.keyModifiers.rawValue);
    w.key("afterAction"), w.value(raw(b.afterAction));
    if (b.afterStepID) w.key("afterStepID"), w.value(b.afterStepID->string());
    w.endObject();
}

void encodeStep(Writer& w, const Step& s, size_t number) {
    const Place place{Place::Kind::step, number};
    w.beginObject();
    w.key("id"), w.value(s.id.string());
    w.key("kind"), w.value(raw(s.kind));
    w.key("enabled"), w.value(s.enabled);
    w.key("note"), w.value(s.note);
    w.key("delayMs"), w.value(s.delayMs);
    w.key("x"), w.value(s.x, place, "x");
    w.key("y"), w.value(s.y, place, "y");
    w.key("hasPoint"), w.value(s.hasPoint);
    w.key("mouseButton"), w.value(raw(s.mouseButton));
    w.key("clickKind"), w.value(raw(s.clickKind));
    w.key("moveDurationMs"), w.value(s.moveDurationMs);
    w.key("scrollAmount"), w.value(s.scrollAmount);
    if (s.keyCode) w.key("keyCode"), w.value(int64_t{*s.keyCode});
    w.key("keyKind"), w.value(raw(s.keyKind));
    w.key("modifiers"), w.value(s.modifiers.rawValue);
    w.key("text"), w.value(s.text);
    w.key("colorPoints"), w.beginArray();
    for (size_t i = 0; i < s.colorPoints.size(); ++i)
        encodeColorPoint(w, s.colorPoints[i], Place{Place::Kind::stepPoint, number, i + 1});
    w.endArray();
    w.key("colorMode"), w.value(raw(s.colorMode));
    if (s.imageTemplate) w.key("template"), encodeTemplate(w, *s.imageTemplate, Place{Place::Kind::stepTemplate, number});
    w.key("threshold"), w.value(s.threshold, place, "threshold");
    w.key("searchFullScreen"), w.value(s.searchFullScreen);
    w.key("searchMargin"), w.value(s.searchMargin, place, "searchMargin");
    w.key("clickOnMatch"), w.value(s.clickOnMatch);
    w.key("waitForCondition"), w.value(s.waitForCondition);
    w.key("timeoutMs"), w.value(s.timeoutMs);
    w.key("pollMs"), w.value(s.pollMs);
    if (s.gotoStepID) w.key("gotoStepID"), w.value(s.gotoStepID->string());
    w.key("onSuccess"), encodeBranch(w, s.onSuccess, Place{Place::Kind::stepBranch, number, 0, "onSuccess"});
    w.key("onFailure"), encodeBranch(w, s.onFailure, Place{Place::Kind::stepBranch, number, 0, "onFailure"});
    w.key("luaFile"), w.value(s.luaFile);
    w.endObject();
}

// A generous estimate of the output size, so the buffer grows at most once or twice.
size_t sizeHint(const Script& script) {
    size_t bytes = 256 + script.name.size();
    for (const ImageTemplate& t : script.templates) bytes += 256 + t.name.size() + t.pngBase64.size();
    for (const Step& s : script.steps) {
        bytes += 1400 + s.note.size() + s.text.size() + s.luaFile.size() + s.colorPoints.size() * 220;
        if (s.imageTemplate) bytes += 256 + s.imageTemplate->name.size() + s.imageTemplate->pngBase64.size();
    }
    return bytes;
}

}  // namespace

ScriptDecodeResult decodeScript(std::string_view json) {
    ScriptDecodeResult result;
    if (json.size() > kMaxScriptDocumentBytes) {
        result.error = "文件过大（" + std::to_string(json.size() / (1024 * 1024)) + " MiB），脚本文件不能超过 64 MiB";
        return result;
    }
    if (onlyWhitespace(json)) {
        result.error = "文件是空的";
        return result;
    }
    if (nestingExceeds(json, kMaxScriptNestingDepth)) {
        result.error = "文件的嵌套层数超过 " + std::to_string(kMaxScriptNestingDepth) + " 层，拒绝读取";
        return result;
    }
    Json root;
    try {
        root = Json::parse(json.begin(), json.end());
    } catch (const Json::parse_error& e) {
        result.error = syntaxErrorMessage(json, e.byte);
        return result;
    } catch (const Json::exception&) {
        // The parser's only other failure: a number too large for a double (1e400).
        result.error = "文件中有超出可表示范围的数值";
        return result;
    }
    try {
        result.script = decodeDocument(root);
    } catch (const CodingError& e) {
        result.error = e.message;
    }
    return result;
}

ScriptEncodeResult encodeScript(const Script& script, JsonStyle style) {
    ScriptEncodeResult result;
    try {
        Writer w(style, sizeHint(script));
        w.beginObject();
        w.key("name"), w.value(script.name);
        w.key("steps"), w.beginArray();
        for (size_t i = 0; i < script.steps.size(); ++i) encodeStep(w, script.steps[i], i + 1);
        w.endArray();
        w.key("loopCount"), w.value(script.loopCount);
        w.key("stepIntervalMs"), w.value(script.stepIntervalMs);
        w.key("templates"), w.beginArray();
        for (size_t i = 0; i < script.templates.size(); ++i)
            encodeTemplate(w, script.templates[i], Place{Place::Kind::libraryTemplate, i + 1});
        w.endArray();
        w.endObject();
        std::string out = w.take();
        if (style == JsonStyle::pretty) out += '\n';
        result.json = std::move(out);
    } catch (const CodingError& e) {
        result.error = e.message;
    }
    return result;
}

}  // namespace tapforge
