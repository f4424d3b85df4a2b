#include "model/ScriptJson.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "model/ScriptJsonPlace.h"
#include "model/TextFormat.h"

namespace tapforge {

namespace {

using detail::CodingError;
using detail::Place;

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
        if (v == 0 && std::signbit(v)) {
            out_ += "-0.0";   // "-0" would read back as the integer 0
            return;
        }
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
