// Start-up, the run log, the hotkey settings, editing and undo.
#include <regex>
#include <thread>

#include <QSettings>

#include "AppFixture.h"
#include "app/InstanceLock.h"
#include "model/ScriptJson.h"

namespace tapforge::app::test {

namespace {

std::vector<StepKind> kinds(const Script& script) {
    std::vector<StepKind> out;
    for (const Step& s : script.steps) out.push_back(s.kind);
    return out;
}

}  // namespace

TEST_F(AppTest, FirstStartShowsStarterScriptAndWritesItOneSecondLaterAsOneLine) {
    start();
    EXPECT_EQ(state().script().name, "新脚本");
    ASSERT_EQ(state().script().steps.size(), 1u);
    EXPECT_EQ(state().script().steps[0].kind, StepKind::comment);
    EXPECT_EQ(state().statusMessage(), "就绪");
    timers_->advance(AppState::kAutosaveDelayMs - 1);
    EXPECT_FALSE(std::filesystem::exists(locations_.autosavePath()));
    settleAutosave();
    const std::string saved = readFile(locations_.autosavePath());
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.find('\n'), std::string::npos);
    EXPECT_EQ(decodeScript(saved).script->steps[0].note, state().script().steps[0].note);
    EXPECT_TRUE(logTexts(state()).empty());
}

TEST_F(AppTest, AutosaveRunsExactlyOneSecondAfterTheLastOfABurstOfEdits) {
    start();
    settleAutosave();
    std::filesystem::remove(locations_.autosavePath());
    for (int i = 0; i < 10; ++i) {
        state().addStep(StepKind::delay);
        timers_->advance(50);
    }
    timers_->advance(AppState::kAutosaveDelayMs - 50 - 1);
    EXPECT_EQ(timers_->pending(), 1u);
    timers_->advance(1);
    EXPECT_EQ(timers_->pending(), 0u);
    state().flushAutosave();
    EXPECT_EQ(decodeScript(readFile(locations_.autosavePath())).script->steps.size(), 11u);
}

TEST_F(AppTest, CorruptAutosaveIsMovedAsideLoggedOnceAndNotOverwritten) {
    std::filesystem::create_directories(locations_.appFolder);
    writeFile(locations_.autosavePath(), "{\"steps\": [ truncated");
    start();
    EXPECT_EQ(state().script().name, "新脚本");
    EXPECT_FALSE(state().alertMessage());
    ASSERT_EQ(logTexts(state()).size(), 1u);
    const std::string line = logTexts(state())[0];
    std::smatch found;
    ASSERT_TRUE(std::regex_search(line, found, std::regex("已移到 (.*autosave\\.json\\.broken-\\d{8}-\\d{6})$")));
    EXPECT_EQ(readFile(found[1].str()), "{\"steps\": [ truncated");
    settleAutosave();
    EXPECT_EQ(readFile(found[1].str()), "{\"steps\": [ truncated");
}

TEST_F(AppTest, LogKeepsNewestHundredWithStampsAndIdsContinuingAfterClear) {
    start();
    for (int i = 1; i <= 150; ++i) state().log("line " + std::to_string(i));
    ASSERT_EQ(state().logs().size(), 100u);
    EXPECT_EQ(state().logs().front().id, 51u);
    EXPECT_EQ(state().logs().back().id, 150u);
    EXPECT_TRUE(std::regex_match(state().logs().front().text, std::regex(R"(\[\d\d:\d\d:\d\d\] line 51)")));
    state().clearLogs();
    std::thread worker([&] { state().log("from worker"); });
    worker.join();
    EXPECT_TRUE(state().logs().empty());   // queued to the main thread, not appended on the worker
    ASSERT_TRUE(spinUntil([&] { return !state().logs().empty(); }));
    EXPECT_EQ(state().logs().back().id, 151u);
}

TEST_F(AppTest, StoredHotkeysSurviveARestartIncludingACustomPlayKeyAndAnUnsetRecordKey) {
    {
        QSettings settings(QString::fromStdString(locations_.settingsFile), QSettings::IniFormat);
        settings.setValue("hotkey.record", QByteArray("{\"modifiers\":0}"));
        settings.setValue("hotkey.play", QByteArray("{\"keyCode\":97,\"modifiers\":0}"));   // F6
    }
    start();
    EXPECT_FALSE(state().hotKeyRecord().keyCode);
    EXPECT_EQ(state().hotKeyPlay().keyCode, 97);
    sim_->keyMonitor().inject({101, 0, false});   // F9 is no longer the record key
    EXPECT_FALSE(state().isRecording());
    restart();
    EXPECT_EQ(state().hotKeyPlay().keyCode, 97);
    state().setHotKeyRecord(HotKeyShortcut::defaultRecord());
    restart();
    EXPECT_EQ(state().hotKeyRecord(), HotKeyShortcut::defaultRecord());
}

TEST_F(AppTest, EditingOperationsFollowTheirSelectionRules) {
    start();
    state().clearAll();
    sim_->setPointer({12, 34});
    state().addStep(StepKind::delay);   // nothing selected: at the end
    state().addStep(StepKind::mouseClick);
    EXPECT_EQ(state().statusMessage(), "已添加：鼠标点击");
    const Step click = state().script().steps[1];
    EXPECT_TRUE(click.hasPoint);
    EXPECT_EQ(click.x, 12);
    EXPECT_EQ(click.y, 34);
    state().setSelectedStepID(state().script().steps[0].id);
    state().addStep(StepKind::lua);   // after the selection
    EXPECT_EQ(kinds(state().script()), (std::vector{StepKind::delay, StepKind::lua, StepKind::mouseClick}));
    EXPECT_EQ(state().script().steps[1].timeoutMs, 0);

    state().duplicateSelected();
    EXPECT_EQ(kinds(state().script()), (std::vector{StepKind::delay, StepKind::lua, StepKind::lua, StepKind::mouseClick}));
    EXPECT_NE(state().script().steps[1].id, state().script().steps[2].id);
    EXPECT_EQ(state().selectedStepID(), state().script().steps[2].id);

    state().setSelectedStepID(state().script().steps[3].id);
    timers_->advance(AppState::kAutosaveDelayMs);
    state().moveSelected(1);   // the last does not move down
    EXPECT_EQ(timers_->pending(), 0u);
    state().moveSteps({3, 0}, 2);
    EXPECT_EQ(kinds(state().script()), (std::vector{StepKind::lua, StepKind::delay, StepKind::mouseClick, StepKind::lua}));

    state().setSelectedStepID(state().script().steps[3].id);
    state().deleteSelected();   // the last: the new last is selected
    EXPECT_EQ(state().selectedStepID(), state().script().steps[2].id);
    const Uuid gone = state().script().steps[2].id;
    Binding<Step> binding = state().binding(gone);
    state().deleteSelected();
    Step edited = binding.get();
    edited.note = "late edit";
    binding.set(edited, "note");
    EXPECT_EQ(state().script().steps.size(), 2u);
    EXPECT_EQ(binding.get().kind, StepKind::comment);

    state().setScriptName("名字");
    state().setLoopCount(3);
    state().clearAll();
    EXPECT_TRUE(state().script().steps.empty());
    EXPECT_EQ(state().script().name, "名字");
    EXPECT_EQ(state().script().loopCount, 3);
    EXPECT_FALSE(state().selectedStepID());
}

TEST_F(AppTest, UndoMergesTypingInOneFieldAndIsBoundedButDeep) {
    start();
    const Uuid id = state().script().steps[0].id;
    const std::string original = state().script().steps[0].note;
    Binding<Step> binding = state().binding(id);
    for (const char* typed : {"a", "ab", "abc"}) {
        Step s = binding.get();
        s.note = typed;
        binding.set(s, "note");
    }
    state().setScriptName("x");
    state().undo();
    EXPECT_EQ(state().script().name, "新脚本");
    EXPECT_EQ(state().script().steps[0].note, "abc");
    state().undo();
    EXPECT_EQ(state().script().steps[0].note, original);
    EXPECT_FALSE(state().canUndo());
    timers_->advance(AppState::kAutosaveDelayMs);
    state().redo();
    EXPECT_EQ(state().script().steps[0].note, "abc");
    EXPECT_EQ(timers_->pending(), 1u);   // undo and redo autosave like any edit

    for (int i = 0; i < 150; ++i) state().addStep(StepKind::delay);
    int levels = 0;
    while (state().canUndo()) state().undo(), ++levels;
    EXPECT_EQ(levels, static_cast<int>(AppState::kUndoLevels));
    EXPECT_EQ(state().script().steps.size(), 51u);
}

TEST_F(AppTest, OnlyOneInstanceHoldsTheLockUntilItEnds) {
    auto first = InstanceLock::acquire(locations_.appFolder);
    ASSERT_TRUE(first);
    EXPECT_FALSE(InstanceLock::acquire(locations_.appFolder));
    first.reset();
    EXPECT_TRUE(InstanceLock::acquire(locations_.appFolder));
}

}  // namespace tapforge::app::test
