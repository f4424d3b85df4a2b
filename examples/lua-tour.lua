-- 一次用到宏库的每个表：mouse、keyboard、color、image、screen、script 以及全局函数。
-- 在模拟桌面上试运行：tapforge-cli play examples/lua-tour.json --sim examples/screens/desktop.png

log("Lua 示例开始", _VERSION)

-- screen
local w, h = screen.size()
printf("屏幕 %dx%d，像素比 %.1f", w, h, screen.scale())

-- color
local r, g, b, text = color.get(10, 10)
log("左上角颜色", r, g, b, text, hex(r, g, b))
if color.match(10, 10, text, 0) then log("颜色一致") end
local ok, detail = color.matchAll({{x = 10, y = 10, color = text}, {x = 20, y = 20, color = "#123456"}}, "any")
log("matchAll", ok, detail)
log("color.wait", color.wait(10, 10, r, g, b, 10, 0))
log("color.waitAll", color.waitAll({{x = 10, y = 10, color = text}}, 200))

-- image
log("模板库：", table.concat(image.list(), ", "))
local bx, by, score = image.find("按钮", 0.8)
if bx then
  printf("找到按钮 (%.0f, %.0f) 相似度 %.2f", bx, by, score)
  mouse.click(bx, by)
else
  log("没有找到按钮")
end
log("exists", image.exists("按钮"), image.exists("没有这个模板"))
log("findIn", image.findIn("按钮", 0, 0, 100, 100))
log("wait", image.wait("按钮", 0.8, 1000, 300))

-- mouse
mouse.move(100, 100)
mouse.move(200, 150, 160)
mouse.click()
mouse.click("right")
mouse.click(300, 200, 2)
mouse.doubleClick(310, 210)
mouse.rightClick()
mouse.down(50, 50)
mouse.up(60, 60)
mouse.drag(100, 100, 200, 200, 300)
mouse.scroll(-3)
log("指针", mouse.pos())

-- keyboard
keyboard.press("f5")
keyboard.press("cmd+c")
keyboard.down("shift")
keyboard.up("shift")
keyboard.hotkey("cmd+shift+s")
keyboard.type("hello world")
log("return 的键码", keyboard.keycode("return"))

-- 出错也可以自己处理：参数错误的文字就是错误值
local good, message = pcall(mouse.scroll, 2.5)
log("pcall", good, message)

sleep(50)

-- script：跳到第 3 步（结尾的注释），本文件仍然执行完
script.jump(3)
script.log("Lua 示例结束")
return true
