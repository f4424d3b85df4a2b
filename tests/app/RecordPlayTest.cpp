// Recording and playback control: refusals, the panel trim, the stop key, the recorder's own
// removals, Escape while a picker is open, and stops from the worker's side.
#include "AppFixture.h"
#include "input/GlobalHotKeyMonitor.h"

namespace tapforge::app::test {

namespace {

using platform::TapEvent;
using platform::TapEventType;

constexpr uint64_t kMs = 1'000'000;

class RecordTest : public AppTest {
protected:
    void SetUp() override {
        panel_->frame = platform::Rect{500, 20, 200, 40};
        start();
        state().clearAll();
    }
    void click(double x, double y, uint64_t atMs) {
        sim_->tap().inject({TapEventType::leftMouseDown, atMs * kMs, {x, y}, 0, 1});
        sim_->tap().inject({TapEventType::leftMouseUp, (atMs + 50) * kMs, {x, y}, 0, 1});
    }
    void key(uint16_t code, uint64_t atMs) {
        TapEvent event;
        event.type = TapEventType::keyDown, event.timestampNs = atMs * kMs, event.keyCode = code;
        sim_->tap().inject(event);
    }
    std::vector<std::string> summaries() {
        std::vector<std::string> out;
        for (const Step& s : state().script().steps) out.push_back(s.summary());
        return out;
    }
};

}  // namespace

TEST_F(RecordTest, StatusAndPanelNameTheRecordKeyOrItsPlaceholders) {
    state().startRecording();
    ASSERT_TRUE(state().isRecording());
    EXPECT_EQ(state().statusMessage(), "录制中… 按 F9 或点击悬浮窗按钮停止");
    EXPECT_EQ(panel_->shown->stopShortcut, "F9");
    state().stopRecording();
    state().setHotKeyRecord({std::nullopt, {}});
    state().startRecording();
    EXPECT_EQ(state().statusMessage(), "录制中… 按 未设置 或点击悬浮窗按钮停止");
    EXPECT_EQ(panel_->shown->stopShortcut, "停止");
}

TEST_F(RecordTest, RecordedStepsGoToTheEndAndPanelClicksAreTrimmedAtMostThree) {
    state().addStep(StepKind::comment);
    state().addStep(StepKind::comment);
    state().setSelectedStepID(state().script().steps[0].id);
    state().startRecording();
    click(100, 100, 1000);
    click(494, 15, 3000);    // the panel's frame grown by 6 points: inside
    click(600, 40, 5000);
    click(706, 66, 7000);    // the far corner, still inside
    click(650, 50, 9000);    // a fourth: stays
    state().stopRecording();   // the panel's button
    EXPECT_FALSE(panel_->shown);
    // comment, comment, click, delay, click(494), delay, (three trimmed clicks with their delays left)
    const auto& steps = state().script().steps;
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[2].kind, StepKind::mouseClick);
    EXPECT_EQ(steps[2].x, 100);
    EXPECT_EQ(steps.back().kind, StepKind::delay);
    EXPECT_EQ(state().statusMessage(), "录制完成，共 " + std::to_string(steps.size()) + " 个步骤");
    EXPECT_EQ(logTexts(state()).back(), "⏹ 结束录制，共 " + std::to_string(steps.size()) + " 个步骤");
    EXPECT_EQ(state().selectedStepID(), steps[0].id);
    // A whole recording is one undo step.
    state().undo();
    EXPECT_EQ(state().script().steps.size(), 2u);
}

TEST_F(RecordTest, ClickJustOutsideTheGrownPanelIsKept) {
    state().startRecording();
    click(707, 30, 1000);
    state().stopRecording();
    ASSERT_FALSE(state().script().steps.empty());
    EXPECT_EQ(state().script().steps.back().x, 707);
}

TEST_F(RecordTest, TheStoppingKeyPressAndThePauseBeforeItAreNotKeptButAHeldButtonIs) {
    state().startRecording();
    click(10, 10, 1000);
    sim_->tap().inject({TapEventType::leftMouseDown, 2000 * kMs, {20, 20}, 0, 1});   // held at the stop
    key(HotKeyShortcut::kF9, 5000);   // the tap sees the press before the hotkey monitor
    sim_->keyMonitor().inject({HotKeyShortcut::kF9, 0, false});
    EXPECT_FALSE(state().isRecording());
    const auto& steps = state().script().steps;
    for (const Step& s : steps) EXPECT_NE(s.kind, StepKind::keyPress) << s.summary();
    // The click, then the held button's "down"; the press and the pause before it are gone.
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].clickKind, ClickKind::click);
    EXPECT_EQ(steps[1].kind, StepKind::mouseClick);
    EXPECT_EQ(steps[1].clickKind, ClickKind::down);
}

TEST_F(RecordTest, RemoveLastTakesOnlyTheRecordersOwnStep) {
    state().startRecording();
    click(10, 10, 1000);
    state().addStep(StepKind::comment);   // the user's, at the end, during the recording
    sim_->tap().inject({TapEventType::leftMouseDown, 1200 * kMs, {10, 10}, 0, 2});   // second half
    sim_->tap().inject({TapEventType::leftMouseUp, 1250 * kMs, {10, 10}, 0, 2});
    state().stopRecording();
    std::vector<ClickKind> clicks;
    bool commentKept = false;
    for (const Step& s : state().script().steps) {
        if (s.kind == StepKind::mouseClick) clicks.push_back(s.clickKind);
        commentKept |= s.kind == StepKind::comment;
    }
    EXPECT_TRUE(commentKept);
    EXPECT_EQ(clicks, std::vector{ClickKind::doubleClick});
}

TEST_F(RecordTest, NewScriptStopsARecordingFirst) {
    state().startRecording();
    state().newScript();
    EXPECT_FALSE(state().isRecording());
    EXPECT_FALSE(sim_->tap().isRunning());
    EXPECT_EQ(state().script().steps.size(), 1u);
}

TEST_F(RecordTest, RefusalsOfPlayAndRecordAndLuaTests) {
    state().togglePlay();
    EXPECT_EQ(state().alertMessage(), "脚本中还没有任何步骤。");
    state().addStep(StepKind::lua);
    Step lua = state().script().steps[0];
    state().testLuaStep(lua.id);
    EXPECT_EQ(state().alertMessage(), "请先选择 .lua 文件。");
    lua.luaFile = "x.lua";
    state().writeStep(lua.id, lua);
    state().startRecording();
    sim_->keyMonitor().inject({HotKeyShortcut::kF10, 0, false});
    EXPECT_EQ(state().alertMessage(), "正在录制中，请先停止录制。");
    state().dismissAlert();
    state().testLuaStep(lua.id);   // its input would be recorded
    EXPECT_EQ(state().alertMessage(), "正在录制中，请先停止录制。");
    EXPECT_FALSE(state().isRunning());
    state().stopRecording();

    sim_->setInputTrusted(false);
    state().startPlay();
    EXPECT_FALSE(state().isRunning());
    EXPECT_EQ(sim_->inputPromptCount(), 1);
    EXPECT_EQ(*state().alertMessage(),
              "需要「辅助功能」权限才能录制和回放鼠标键盘。\n请到「系统设置 → 隐私与安全性 → 辅助功能」中勾选「Tapforge」，然后重新打开本应用。");
}

TEST_F(RecordTest, PermissionAlertKeepsItsFirstLineAndTellsWhatThePlatformSaysIsMissing) {
    struct Explaining final : platform::Permissions {
        bool inputTrusted(platform::Prompt) override { return false; }
        bool screenCapturePreflight() override { return false; }
        bool screenCaptureRequest() override { return false; }
        std::string missingExplanation(Kind kind) override { return kind == Kind::input ? "缺少 XTEST。" : "截图被拒绝。"; }
    };
    permissions_ = std::make_shared<Explaining>();
    restart();
    state().startRecording();
    EXPECT_EQ(*state().alertMessage(), "需要「辅助功能」权限才能录制和回放鼠标键盘。\n缺少 XTEST。");
    state().pickColors(state().script().steps[0].id);
    EXPECT_EQ(*state().alertMessage(), "需要「屏幕录制」权限才能截图和识别屏幕颜色。\n截图被拒绝。");
}

TEST_F(RecordTest, EscapeStopsPlaybackOnlyWhileNoPickerIsOpenAndRunLogsArrive) {
    state().addStep(StepKind::delay);
    state().setLoopCount(0);   // until stopped
    state().togglePlay();
    ASSERT_TRUE(spinUntil([&] { return state().isRunning(); }));
    pickers_->open = true;
    sim_->keyMonitor().inject({platform::KeyDown{GlobalHotKeyMonitor::kEscapeKeyCode, 0, false}});
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(state().isRunning());
    pickers_->open = false;
    sim_->keyMonitor().inject({platform::KeyDown{GlobalHotKeyMonitor::kEscapeKeyCode, 0, false}});
    ASSERT_TRUE(spinUntil([&] { return !state().isRunning(); }));
    ASSERT_TRUE(spinUntil([&] { return !logTexts(state()).empty() && logTexts(state()).back() == "⏹ 已手动停止"; }));
}

}  // namespace tapforge::app::test
