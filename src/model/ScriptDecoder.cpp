// Decoding a script file. The parser's events go straight into the model (no intermediate
// JSON tree): that halves the time for large files and lets the nesting limit act while
// parsing. Every failure throws CodingError out of the handler; nothing is returned half-made.
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "model/ScriptJson.h"
#include "model/ScriptJsonPlace.h"
#include "model/TextFormat.h"

namespace tapforge {

namespace {

using detail::CodingError;
using detail::Place;
using Json = nlohmann::json;

// One parser event carrying a value (or the start of a container).
struct Value {
    enum class Type { null, boolean, integer, unsignedInteger, floating, string, object, array } type;
    bool boolean = false;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double floating = 0;
    std::string* string = nullptr;

    bool isNumber() const {
        return type == Type::integer || type == Type::unsignedInteger || type == Type::floating;
    }
    const char* typeName() const {
        switch (type) {
            case Type::null: return "null";
            case Type::boolean: return "布尔值";
            case Type::integer:
            case Type::unsignedInteger:
            case Type::floating: return "数字";
            case Type::string: return "字符串";
            case Type::object: return "对象";
            case Type::array: return "数组";
        }
        return "未知类型";
    }
    // The value quoted in a message; long strings are cut so a hostile file cannot flood the alert.
    std::string quoted() const {
        switch (type) {
            case Type::string: {
                const std::string_view head = detail::leadingCharacters(*string, 40);
                return "\"" + std::string(head) + (head.size() < string->size() ? "…" : "") + "\"";
            }
            case Type::integer: return std::to_string(integer);
            case Type::unsignedInteger: return std::to_string(unsignedInteger);
            case Type::floating: {
                char buffer[32];
                return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, floating).ptr);
            }
            case Type::boolean: return boolean ? "true" : "false";
            default: return typeName();
        }
    }
};

// The keys of each object, in table order (also the order the writer uses, which the
// lookup tries first).
constexpr std::string_view kDocumentKeys[] = {"name", "steps", "loopCount", "stepIntervalMs", "templates"};
enum DocumentKey { docName, docSteps, docLoopCount, docStepInterval, docTemplates };

constexpr std::string_view kStepKeys[] = {
    "id", "kind", "enabled", "note", "delayMs", "x", "y", "hasPoint", "mouseButton", "clickKind",
    "moveDurationMs", "scrollAmount", "keyCode", "keyKind", "modifiers", "text", "colorPoints", "colorMode",
    "template", "threshold", "searchFullScreen", "searchMargin", "clickOnMatch", "waitForCondition",
    "timeoutMs", "pollMs", "gotoStepID", "onSuccess", "onFailure", "luaFile"};
enum StepKey {
    stId, stKind, stEnabled, stNote, stDelay, stX, stY, stHasPoint, stButton, stClickKind, stMoveDuration,
    stScroll, stKeyCode, stKeyKind, stModifiers, stText, stColorPoints, stColorMode, stTemplate, stThreshold,
    stFullScreen, stMargin, stClickOnMatch, stWait, stTimeout, stPoll, stGoto, stOnSuccess, stOnFailure, stLuaFile
};

constexpr std::string_view kBranchKeys[] = {"kind", "targetStepID", "clickX", "clickY", "clickHasPoint", "clickButton",
                                            "clickCount", "keyCode", "keyModifiers", "afterAction", "afterStepID"};
enum BranchKey { brKind, brTarget, brClickX, brClickY, brHasPoint, brButton, brCount, brKeyCode, brModifiers, brAfter, brAfterStep };

constexpr std::string_view kPointKeys[] = {"id", "x", "y", "red", "green", "blue", "tolerance", "enabled"};
enum PointKey { ptId, ptX, ptY, ptRed, ptGreen, ptBlue, ptTolerance, ptEnabled };

constexpr std::string_view kTemplateKeys[] = {"name", "widthPoints", "heightPoints", "originX", "originY", "pixelScale", "pngBase64"};
enum TemplateKey { tpName, tpWidth, tpHeight, tpOriginX, tpOriginY, tpScale, tpPng };

template <size_t N>
int findKey(const std::string_view (&keys)[N], std::string_view key, int hint) {
    if (hint >= 0 && hint < static_cast<int>(N) && keys[hint] == key) return hint;
    for (size_t i = 0; i < N; ++i)
        if (keys[i] == key) return static_cast<int>(i);
    return -1;
}

// Typed reads of one value for the key `key` at `place`.
class FieldReader {
public:
    FieldReader(const Place& place, std::string_view key, const Value& v) : place_(place), key_(key), v_(v) {}

    void read(std::string& out) const {
        if (v_.type != Value::Type::string) failType("字符串");
        out = std::move(*v_.string);
    }
    void read(bool& out) const {
        if (v_.type != Value::Type::boolean) failType("布尔值（true 或 false）");
        out = v_.boolean;
    }
    void read(double& out) const {
        switch (v_.type) {
            case Value::Type::integer: out = static_cast<double>(v_.integer); break;
            case Value::Type::unsignedInteger: out = static_cast<double>(v_.unsignedInteger); break;
            case Value::Type::floating: out = v_.floating; break;
            default: failType("数字");
        }
    }
    void read(int64_t& out) const { out = integer(); }
    void read(ModifierSet& out) const { out.rawValue = integer(); }
    void read(std::optional<uint16_t>& out) const {
        const int64_t code = integer();
        if (code < 0 || code > 65535) failRange("0…65535");
        out = static_cast<uint16_t>(code);
    }
    void read(Uuid& out) const { out = uuid(); }
    void read(std::optional<Uuid>& out) const { out = uuid(); }

    template <class E>
        requires std::is_enum_v<E>
    void read(E& out) const {
        if (v_.type != Value::Type::string) failType("字符串");
        const auto value = fromRawValue<E>(*v_.string);
        if (!value) {
            std::string allowed;
            for (const auto& c : EnumTable<E>::cases) allowed += (allowed.empty() ? "" : "、") + std::string(c.raw);
            throw CodingError{keyText() + " 的值 " + v_.quoted() + " 无效，可用的值：" + allowed};
        }
        out = *value;
    }

    [[noreturn]] void failType(const char* expected) const {
        throw CodingError{keyText() + " 应为" + expected + "，实际为" + v_.typeName()};
    }

private:
    std::string keyText() const { return place_.keyText(std::string(key_).c_str()); }

    [[noreturn]] void failRange(const char* range) const {
        throw CodingError{keyText() + " 超出范围（" + range + "）：" + v_.quoted()};
    }

    // A whole number in the signed 64-bit range. JSON does not tell 3 from 3.0, so a float is
    // taken when it is whole and small enough (2^53) that it is exactly the number written.
    int64_t integer() const {
        switch (v_.type) {
            case Value::Type::integer: return v_.integer;
            case Value::Type::unsignedInteger:
                if (v_.unsignedInteger > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                    failRange("64 位有符号整数");
                return static_cast<int64_t>(v_.unsignedInteger);
            case Value::Type::floating:
                if (v_.floating != std::trunc(v_.floating)) failType("整数");
                if (std::fabs(v_.floating) > 9007199254740992.0) failRange("64 位有符号整数");
                return static_cast<int64_t>(v_.floating);
            default: failType("整数");
        }
    }

    Uuid uuid() const {
        if (v_.type != Value::Type::string) failType("UUID 字符串");
        const auto parsed = Uuid::parse(*v_.string);
        if (!parsed) throw CodingError{keyText() + " 不是有效的 UUID：" + v_.quoted()};
        return *parsed;
    }

    const Place& place_;
    std::string_view key_;
    const Value& v_;
};

class ScriptHandler final : public nlohmann::json_sax<Json> {
public:
    // One frame per open object or array, and the depth is bounded: reserving keeps
    // references to frames valid while deeper ones are pushed.
    explicit ScriptHandler(std::string_view json) : json_(json) { frames_.reserve(kMaxScriptNestingDepth + 2); }

    Script take() { return std::move(script_); }
    const std::string& failure() const { return failure_; }

    // --- parser events
    bool null() override { return value({Value::Type::null}); }
    bool boolean(bool b) override {
        Value v{Value::Type::boolean};
        v.boolean = b;
        return value(v);
    }
    bool number_integer(number_integer_t n) override {
        Value v{Value::Type::integer};
        v.integer = n;
        return value(v);
    }
    bool number_unsigned(number_unsigned_t n) override {
        Value v{Value::Type::unsignedInteger};
        v.unsignedInteger = n;
        return value(v);
    }
    bool number_float(number_float_t n, const string_t&) override {
        Value v{Value::Type::floating};
        v.floating = n;
        return value(v);
    }
    bool string(string_t& s) override {
        Value v{Value::Type::string};
        v.string = &s;
        return value(v);
    }
    bool binary(binary_t&) override { return value({Value::Type::null}); }   // not produced by the JSON parser
    bool start_object(std::size_t) override {
        enter();
        return value({Value::Type::object});
    }
    bool start_array(std::size_t) override {
        enter();
        return value({Value::Type::array});
    }
    bool key(string_t& k) override {
        Frame& f = frames_.back();
        if (f.type == FrameType::skip) return true;
        key_ = k;
        const int hint = f.key + 1;
        switch (f.type) {
            case FrameType::document: f.key = findKey(kDocumentKeys, k, hint); break;
            case FrameType::step: f.key = findKey(kStepKeys, k, hint); break;
            case FrameType::branch: f.key = findKey(kBranchKeys, k, hint); break;
            case FrameType::point: f.key = findKey(kPointKeys, k, hint); break;
            case FrameType::stepTemplate:
            case FrameType::libraryTemplate: f.key = findKey(kTemplateKeys, k, hint); break;
            default: f.key = -1;
        }
        return true;
    }
    bool end_object() override {
        --depth_;
        finishObject();
        frames_.pop_back();
        return true;
    }
    bool end_array() override {
        --depth_;
        frames_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
        // 406: a number too large for a double (1e400); everything else is a syntax error.
        failure_ = e.id == 406 ? "文件中有超出可表示范围的数值" : syntaxError(position);
        return false;
    }

private:
    enum class FrameType { document, steps, step, branch, points, point, stepTemplate, templates, libraryTemplate, skip };

    struct Frame {
        FrameType type = FrameType::skip;
        Place place;
        int key = -1;            // current key's index in the frame's key table, -1 unknown
        uint32_t seen = 0;       // keys present (for objects whose keys are all required)
        BranchTarget* branch = nullptr;
        ImageTemplate* image = nullptr;
        // A step's kind as written: the kind and the raw text when it is not a known kind.
        bool kindSeen = false;
        bool kindKnown = true;
        std::string unknownKind;
    };

    void enter() {
        if (++depth_ > kMaxScriptNestingDepth)
            throw CodingError{"文件的嵌套层数超过 " + std::to_string(kMaxScriptNestingDepth) + " 层，拒绝读取"};
    }

    void push(FrameType type, Place place) {
        Frame& f = frames_.emplace_back();
        f.type = type;
        f.place = place;
    }

    // Dispatches one value to the frame it belongs to.
    bool value(const Value& v) {
        if (frames_.empty()) {
            if (v.type != Value::Type::object)
                throw CodingError{std::string("文件内容应为 JSON 对象，实际为") + v.typeName()};
            push(FrameType::document, Place{});
            return true;
        }
        Frame& f = frames_.back();
        switch (f.type) {
            case FrameType::skip:
                if (v.type == Value::Type::object || v.type == Value::Type::array) push(FrameType::skip, f.place);
                return true;
            case FrameType::steps:
                arrayElement(v, Place{Place::Kind::step, script_.steps.size() + 1});
                if (script_.steps.size() >= kMaxScriptSteps)
                    overLimit(Place{Place::Kind::step, script_.steps.size() + 1}, kMaxScriptSteps, "个步骤");
                script_.steps.emplace_back();
                push(FrameType::step, Place{Place::Kind::step, script_.steps.size()});
                return true;
            case FrameType::templates:
                arrayElement(v, Place{Place::Kind::libraryTemplate, script_.templates.size() + 1});
                if (script_.templates.size() >= kMaxScriptTemplates)
                    overLimit(Place{Place::Kind::libraryTemplate, script_.templates.size() + 1}, kMaxScriptTemplates,
                              "个模板");
                script_.templates.emplace_back();
                push(FrameType::libraryTemplate, Place{Place::Kind::libraryTemplate, script_.templates.size()});
                frames_.back().image = &script_.templates.back();
                return true;
            case FrameType::points: {
                auto& points = script_.steps.back().colorPoints;
                Place place{Place::Kind::stepPoint, f.place.index, points.size() + 1};
                arrayElement(v, place);
                if (++colorPoints_ > kMaxScriptColorPoints) overLimit(place, kMaxScriptColorPoints, "个颜色点");
                points.emplace_back();
                push(FrameType::point, place);
                return true;
            }
            default: break;
        }
        if (f.key < 0) {
            // A key this format does not define: ignore its value, however deep.
            if (v.type == Value::Type::object || v.type == Value::Type::array) push(FrameType::skip, f.place);
            return true;
        }
        const FieldReader r(f.place, key_, v);
        const bool present = v.type != Value::Type::null;
        switch (f.type) {
            case FrameType::document: documentField(f, r, v, present); break;
            case FrameType::step: stepField(f, r, v, present); break;
            case FrameType::branch:
                if (present) branchField(*f.branch, f.key, r);
                break;
            case FrameType::point:
                if (!present) missing(f.place, key_);
                f.seen |= 1u << f.key;
                pointField(script_.steps.back().colorPoints.back(), f.key, r);
                break;
            case FrameType::stepTemplate:
            case FrameType::libraryTemplate:
                if (!present) missing(f.place, key_);
                f.seen |= 1u << f.key;
                templateField(*f.image, f.key, r);
                break;
            default: break;
        }
        return true;
    }

    static void arrayElement(const Value& v, const Place& place) {
        if (v.type != Value::Type::object) throw CodingError{place.subject() + "应为对象，实际为" + v.typeName()};
    }

    [[noreturn]] static void overLimit(const Place& place, size_t limit, const char* what) {
        throw CodingError{place.subject() + "超出上限：一个脚本最多 " + std::to_string(limit) + " " + what};
    }

    // A template whose PNG header declares more pixels than one template may have.
    static void checkTemplateSize(const Place& place, const ImageTemplate& t) {
        const auto size = t.declaredPixelSize();
        if (!size || size->pixels() <= kMaxTemplatePixels) return;
        throw CodingError{place.subject() + "的图像为 " + std::to_string(size->width) + " × " +
                          std::to_string(size->height) + " 像素，超过单个模板 " + std::to_string(kMaxTemplatePixels) +
                          " 像素的上限"};
    }

    [[noreturn]] static void missing(const Place& place, std::string_view key) {
        throw CodingError{place.subject() + "缺少 \"" + std::string(key) + "\""};
    }

    void documentField(Frame& f, const FieldReader& r, const Value& v, bool present) {
        switch (f.key) {
            case docName:
                if (present) r.read(script_.name);
                else script_.name = Script{}.name;
                break;
            case docSteps:
                script_.steps.clear();
                if (!present) break;
                if (v.type != Value::Type::array) r.failType("数组");
                push(FrameType::steps, f.place);
                break;
            case docLoopCount:
                if (present) r.read(script_.loopCount);
                else script_.loopCount = Script{}.loopCount;
                break;
            case docStepInterval:
                if (present) r.read(script_.stepIntervalMs);
                else script_.stepIntervalMs = Script{}.stepIntervalMs;
                break;
            case docTemplates:
                script_.templates.clear();
                if (!present) break;
                if (v.type != Value::Type::array) r.failType("数组");
                push(FrameType::templates, f.place);
                break;
        }
    }

    void stepField(Frame& f, const FieldReader& r, const Value& v, bool present) {
        Step& s = script_.steps.back();
        if (!present) {
            // A null value reads as if the key were missing.
            const Step defaults(StepKind::comment);
            switch (f.key) {
                case stId: break;   // keeps the fresh id
                case stKind: f.kindSeen = false; break;
                case stColorPoints: s.colorPoints.clear(); break;
                case stTemplate: s.imageTemplate.reset(); break;
                case stKeyCode: s.keyCode.reset(); break;
                case stGoto: s.gotoStepID.reset(); break;
                case stOnSuccess: s.onSuccess = BranchTarget{}; break;
                case stOnFailure: s.onFailure = BranchTarget{}; break;
                default: assignField(s, defaults, f.key); break;
            }
            return;
        }
        switch (f.key) {
            case stId: r.read(s.id); break;
            case stKind: {
                if (v.type != Value::Type::string) r.failType("字符串");
                f.kindSeen = true;
                const auto kind = fromRawValue<StepKind>(*v.string);
                f.kindKnown = kind.has_value();
                s.kind = kind.value_or(StepKind::comment);
                if (!kind) f.unknownKind = *v.string;
                break;
            }
            case stEnabled: r.read(s.enabled); break;
            case stNote: r.read(s.note); break;
            case stDelay: r.read(s.delayMs); break;
            case stX: r.read(s.x); break;
            case stY: r.read(s.y); break;
            case stHasPoint: r.read(s.hasPoint); break;
            case stButton: r.read(s.mouseButton); break;
            case stClickKind: r.read(s.clickKind); break;
            case stMoveDuration: r.read(s.moveDurationMs); break;
            case stScroll: r.read(s.scrollAmount); break;
            case stKeyCode: r.read(s.keyCode); break;
            case stKeyKind: r.read(s.keyKind); break;
            case stModifiers: r.read(s.modifiers); break;
            case stText: r.read(s.text); break;
            case stColorPoints:
                if (v.type != Value::Type::array) r.failType("数组");
                s.colorPoints.clear();
                push(FrameType::points, f.place);
                break;
            case stColorMode: r.read(s.colorMode); break;
            case stTemplate:
                if (v.type != Value::Type::object) r.failType("对象");
                s.imageTemplate.emplace();
                push(FrameType::stepTemplate, Place{Place::Kind::stepTemplate, f.place.index});
                frames_.back().image = &*script_.steps.back().imageTemplate;
                break;
            case stThreshold: r.read(s.threshold); break;
            case stFullScreen: r.read(s.searchFullScreen); break;
            case stMargin: r.read(s.searchMargin); break;
            case stClickOnMatch: r.read(s.clickOnMatch); break;
            case stWait: r.read(s.waitForCondition); break;
            case stTimeout: r.read(s.timeoutMs); break;
            case stPoll: r.read(s.pollMs); break;
            case stGoto: r.read(s.gotoStepID); break;
            case stOnSuccess:
            case stOnFailure: {
                if (v.type != Value::Type::object) r.failType("对象");
                const bool success = f.key == stOnSuccess;
                BranchTarget& b = success ? s.onSuccess : s.onFailure;
                b = BranchTarget{};
                push(FrameType::branch, Place{Place::Kind::stepBranch, f.place.index, 0, success ? "onSuccess" : "onFailure"});
                frames_.back().branch = &b;
                break;
            }
            case stLuaFile: r.read(s.luaFile); break;
        }
    }

    // Resets one scalar field to its default (a null value).
    static void assignField(Step& s, const Step& d, int key) {
        switch (key) {
            case stEnabled: s.enabled = d.enabled; break;
            case stNote: s.note = d.note; break;
            case stDelay: s.delayMs = d.delayMs; break;
            case stX: s.x = d.x; break;
            case stY: s.y = d.y; break;
            case stHasPoint: s.hasPoint = d.hasPoint; break;
            case stButton: s.mouseButton = d.mouseButton; break;
            case stClickKind: s.clickKind = d.clickKind; break;
            case stMoveDuration: s.moveDurationMs = d.moveDurationMs; break;
            case stScroll: s.scrollAmount = d.scrollAmount; break;
            case stKeyKind: s.keyKind = d.keyKind; break;
            case stModifiers: s.modifiers = d.modifiers; break;
            case stText: s.text = d.text; break;
            case stColorMode: s.colorMode = d.colorMode; break;
            case stThreshold: s.threshold = d.threshold; break;
            case stFullScreen: s.searchFullScreen = d.searchFullScreen; break;
            case stMargin: s.searchMargin = d.searchMargin; break;
            case stClickOnMatch: s.clickOnMatch = d.clickOnMatch; break;
            case stWait: s.waitForCondition = d.waitForCondition; break;
            case stTimeout: s.timeoutMs = d.timeoutMs; break;
            case stPoll: s.pollMs = d.pollMs; break;
            case stLuaFile: s.luaFile = d.luaFile; break;
            default: break;
        }
    }

    static void branchField(BranchTarget& b, int key, const FieldReader& r) {
        switch (key) {
            case brKind: r.read(b.kind); break;
            case brTarget: r.read(b.targetStepID); break;
            case brClickX: r.read(b.clickX); break;
            case brClickY: r.read(b.clickY); break;
            case brHasPoint: r.read(b.clickHasPoint); break;
            case brButton: r.read(b.clickButton); break;
            case brCount: r.read(b.clickCount); break;
            case brKeyCode: r.read(b.keyCode); break;
            case brModifiers: r.read(b.keyModifiers); break;
            case brAfter: r.read(b.afterAction); break;
            case brAfterStep: r.read(b.afterStepID); break;
        }
    }

    static void pointField(ColorPoint& p, int key, const FieldReader& r) {
        switch (key) {
            case ptId: r.read(p.id); break;
            case ptX: r.read(p.x); break;
            case ptY: r.read(p.y); break;
            case ptRed: r.read(p.red); break;
            case ptGreen: r.read(p.green); break;
            case ptBlue: r.read(p.blue); break;
            case ptTolerance: r.read(p.tolerance); break;
            case ptEnabled: r.read(p.enabled); break;
        }
    }

    static void templateField(ImageTemplate& t, int key, const FieldReader& r) {
        switch (key) {
            case tpName: r.read(t.name); break;
            case tpWidth: r.read(t.widthPoints); break;
            case tpHeight: r.read(t.heightPoints); break;
            case tpOriginX: r.read(t.originX); break;
            case tpOriginY: r.read(t.originY); break;
            case tpScale: r.read(t.pixelScale); break;
            case tpPng: r.read(t.pngBase64); break;
        }
    }

    template <size_t N>
    static void requireAll(const Frame& f, const std::string_view (&keys)[N]) {
        for (size_t i = 0; i < N; ++i)
            if (!(f.seen & (1u << i))) missing(f.place, keys[i]);
    }

    void finishObject() {
        Frame& f = frames_.back();
        switch (f.type) {
            case FrameType::step: {
                if (!f.kindSeen) throw CodingError{f.place.text() + "缺少必需的 \"kind\""};
                if (!f.kindKnown) {
                    // A kind this version does not know keeps the file loadable: the step becomes
                    // a comment that says what it was.
                    Step& s = script_.steps.back();
                    const std::string message = "原「" + f.unknownKind + "」步骤已不再支持";
                    s.note = s.note.empty() ? message : s.note + "（" + message + "）";
                }
                break;
            }
            case FrameType::point: requireAll(f, kPointKeys); break;
            case FrameType::stepTemplate:
            case FrameType::libraryTemplate:
                requireAll(f, kTemplateKeys);
                checkTemplateSize(f.place, *f.image);
                break;
            default: break;
        }
    }

    std::string syntaxError(size_t position) const {
        // The position is the count of bytes read; show line and column (in characters).
        const size_t stop = std::min(position == 0 ? 0 : position - 1, json_.size());
        size_t line = 1, column = 1;
        for (size_t i = 0; i < stop; ++i) {
            const unsigned char c = static_cast<unsigned char>(json_[i]);
            if (c == '\n') {
                ++line;
                column = 1;
            } else if ((c & 0xC0) != 0x80) {
                ++column;
            }
        }
        return "文件不是有效的 JSON（第 " + std::to_string(line) + " 行第 " + std::to_string(column) + " 列附近有语法错误）";
    }

    std::string_view json_;
    size_t colorPoints_ = 0;
    Script script_;
    std::vector<Frame> frames_;
    std::string key_;
    int depth_ = 0;
    std::string failure_;
};

// The distinct template images of a finished script (identical data is decoded once) must
// fit the script's pixel budget together. Names the template that goes over it.
void checkScriptTemplatePixels(const Script& script) {
    std::unordered_set<std::string_view> seen;
    uint64_t total = 0;
    const auto add = [&](const ImageTemplate& t, const Place& place) {
        const auto size = t.declaredPixelSize();
        if (!size || !seen.insert(t.pngBase64).second) return;
        total += size->pixels();
        if (total > kMaxScriptTemplatePixels)
            throw CodingError{place.subject() + "使脚本的模板图像共达 " + std::to_string(total) + " 像素，超过每个脚本 " +
                              std::to_string(kMaxScriptTemplatePixels) + " 像素的上限"};
    };
    for (size_t i = 0; i < script.templates.size(); ++i)
        add(script.templates[i], Place{Place::Kind::libraryTemplate, i + 1});
    for (size_t i = 0; i < script.steps.size(); ++i)
        if (script.steps[i].imageTemplate) add(*script.steps[i].imageTemplate, Place{Place::Kind::stepTemplate, i + 1});
}

}  // namespace

ScriptDecodeResult decodeScript(std::string_view json) {
    ScriptDecodeResult result;
    if (json.size() > kMaxScriptDocumentBytes) {
        result.error = "文件过大（" + std::to_string(json.size() / (1024 * 1024)) + " MiB），脚本文件不能超过 64 MiB";
        return result;
    }
    if (json.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        result.error = "文件是空的";
        return result;
    }
    ScriptHandler handler(json);
    try {
        if (!Json::sax_parse(json.data(), json.data() + json.size(), &handler)) {
            result.error = handler.failure();
            return result;
        }
        Script script = handler.take();
        checkScriptTemplatePixels(script);
        result.script = std::move(script);
    } catch (const CodingError& e) {
        result.error = e.message;
        return result;
    }
    return result;
}

}  // namespace tapforge
