-- 签到示例的最后一步：确认签到按钮已变为完成状态，并记录结果。
-- 返回 false 时脚本走“失败”分支（重新开始）。
local done = color.match(524, 316, "#46CBA2", 10)
log(done and "签到已完成" or "签到按钮状态不对")
return done
