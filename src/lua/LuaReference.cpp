#include "lua/LuaReference.h"

#include <string>
#include <utility>
#include <vector>

namespace tapforge {

namespace {

// A group heading is a line starting with "--"; an entry is a call form and its comment.
using Line = std::pair<const char*, const char*>;

constexpr size_t kCommentColumn = 44;

const Line kReference[] = {
    {"-- 全局", nullptr},
    {"log(...)", "-- 写运行日志"},
    {"printf(fmt, ...)", "-- 按格式写运行日志"},
    {"sleep(ms)", "-- 等待（可被停止按钮中断）"},
    {"hex(r, g, b)", "-- 返回 \"#RRGGBB\""},
    {"", nullptr},
    {"-- 鼠标", nullptr},
    {"mouse.pos()", "-- 返回 x, y"},
    {"mouse.move(x, y[, durationMs])", "-- durationMs > 0 时平滑移动"},
    {"mouse.click([x, y][, button][, count])", "-- button: \"left\" / \"right\" / \"middle\""},
    {"mouse.doubleClick([x, y])", nullptr},
    {"mouse.rightClick([x, y])", nullptr},
    {"mouse.down([x, y][, button])", nullptr},
    {"mouse.up([x, y][, button])", nullptr},
    {"mouse.drag(x1, y1, x2, y2[, durationMs])", "-- 默认 300ms"},
    {"mouse.scroll(amount[, x, y])", "-- 正数向上"},
    {"", nullptr},
    {"-- 键盘", nullptr},
    {"keyboard.press(key)", "-- 名称或键码，支持 \"cmd+c\""},
    {"keyboard.down(key)", nullptr},
    {"keyboard.up(key)", nullptr},
    {"keyboard.hotkey(\"cmd+shift+s\")", "-- 组合键"},
    {"keyboard.type(text)", "-- 输入文本"},
    {"keyboard.keycode(name)", "-- 名称 -> 键码"},
    {"", nullptr},
    {"-- 颜色（颜色可用 \"#RRGGBB\" 或 r, g, b）", nullptr},
    {"color.get(x, y)", "-- 返回 r, g, b, hex"},
    {"color.hex(r, g, b)", "-- 返回 \"#RRGGBB\""},
    {"color.match(x, y, color[, tolerance])", "-- 返回 bool"},
    {"color.matchAll(points[, \"all\"|\"any\"])", "-- 返回 bool, 详情"},
    {"color.wait(x, y, color[, tol][, ms][, poll])", "-- 等待颜色出现，返回 bool"},
    {"color.waitAll(points[, mode][, ms][, poll])", "-- 等待颜色点表匹配，返回 bool"},
    {"", nullptr},
    {"-- 图像（模板库按名称引用）", nullptr},
    {"image.list()", "-- 返回模板名数组"},
    {"image.find(name[, similarity])", "-- 返回 x, y, 相似度；未找到返回 nil"},
    {"image.findIn(name, x, y, w, h[, similarity])", "-- 只在区域内查找"},
    {"image.exists(name[, similarity])", "-- 返回 bool"},
    {"image.wait(name[, similarity][, ms][, poll])", "-- 等待图像出现；超时返回 nil"},
    {"", nullptr},
    {"-- 屏幕 / 流程", nullptr},
    {"screen.size()", "-- 返回宽, 高（点）"},
    {"screen.scale()", "-- 返回像素比（Retina 为 2）"},
    {"screen.color(x, y)", "-- 同 color.get"},
    {"script.jump(3)", "-- 跳转到第 3 个步骤（script[\"goto\"] 是等价别名）"},
    {"script.stop()", "-- 停止整个脚本"},
    {"script.log(text)", "-- 写运行日志"},
    {"return true|false", "-- 决定走成功分支还是失败分支"},
};

std::string buildReference() {
    std::string text;
    bool first = true;
    for (const auto& [code, comment] : kReference) {
        if (!first) text += '\n';
        first = false;
        text += code;
        if (comment) {
            // Call forms are ASCII, so bytes are columns.
            const size_t length = std::string_view(code).size();
            text.append(length < kCommentColumn ? kCommentColumn - length : 1, ' ');
            text += comment;
        }
    }
    return text;
}

constexpr const char* kSampleLines[] = {
    "-- Tapforge Lua 示例脚本",
    "-- 可用的命名空间：mouse / keyboard / color / image / screen / script",
    "-- 另有全局函数：log(...)、printf(fmt, ...)、sleep(ms)",
    "",
    "log(\"Lua 脚本启动\")",
    "",
    "-- 鼠标：click(x, y[, 按键][, 次数])、move、drag、scroll、pos()",
    "-- mouse.click(100, 200)",
    "-- mouse.move(400, 300, 300)         -- 300ms 平滑移动",
    "-- mouse.drag(100, 100, 500, 500)    -- 拖拽",
    "-- mouse.scroll(-3)",
    "-- local x, y = mouse.pos()",
    "",
    "-- 键盘：press / down / up / hotkey / type",
    "-- keyboard.press(\"f5\")",
    "-- keyboard.hotkey(\"cmd+shift+a\")",
    "-- keyboard.type(\"hello world\")",
    "",
    "-- 颜色：get(x, y) 返回 r, g, b, hex；match / wait 支持 \"#RRGGBB\" 或 r, g, b",
    "-- local r, g, b, hex = color.get(100, 200)",
    "-- if color.match(100, 200, \"#FF0000\", 12) then log(\"是红色\") end",
    "-- color.wait(100, 200, \"#00FF00\", 10, 5000)",
    "-- if color.matchAll({{x=10,y=10,color=\"#FF0000\"},{x=20,y=20,color=\"#00FF00\"}}, \"any\") then",
    "--     log(\"至少命中一个颜色点\")",
    "-- end",
    "",
    "-- 图像：模板库里按名称查找，返回 x, y, 相似度",
    "-- local bx, by, score = image.find(\"登录按钮\", 0.9)",
    "-- if bx then log(\"找到按钮\", bx, by, score) end",
    "-- image.wait(\"弹窗\", 0.9, 8000)",
    "-- log(\"模板库：\", table.concat(image.list(), \", \"))",
    "",
    "-- 屏幕信息",
    "-- local w, h = screen.size()",
    "",
    "-- 流程控制",
    "-- script.jump(3)        -- 跳转到第 3 个步骤",
    "-- script.stop()         -- 立即停止脚本",
    "",
    "-- 返回值决定「执行分支」：返回 true 走成功分支，false 走失败分支，返回 nil 则继续下一步",
    "return true",
};

std::string buildSample() {
    std::string text;
    for (size_t i = 0; i < std::size(kSampleLines); ++i) {
        if (i > 0) text += '\n';
        text += kSampleLines[i];
    }
    return text;
}

}  // namespace

std::string_view luaApiReference() {
    static const std::string text = buildReference();
    return text;
}

std::string_view luaSampleScript() {
    static const std::string text = buildSample();
    return text;
}

}  // namespace tapforge
