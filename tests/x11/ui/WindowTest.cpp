// The main window and its sheets driven in-process, as a user would click and type.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include "UiTestSupport.h"
#include "input/keymap/KeyMap.h"
#include "ui/HotKeyRow.h"
#include "ui/LogPanel.h"
#include "ui/SettingsSheet.h"
#include "ui/StepListModel.h"
#include "ui/StepListPanel.h"
#include "ui/TemplateLibrarySheet.h"

namespace tapforge::testing {
namespace {

template <typename T>
T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

TEST_F(WindowTest, SelectionAndPlaybackDecideWhichControlsAreEnabled) {
    Script script;
    script.steps = {Step::create(StepKind::delay, {}), Step::create(StepKind::comment, {})};
    load(script);
    state->setSelectedStepID(std::nullopt);
    for (const char* name : {"moveUpButton", "moveDownButton", "duplicateButton", "deleteButton"})
        EXPECT_FALSE(child<QToolButton>(window.get(), name)->isEnabled()) << name;
    EXPECT_FALSE(child<QToolButton>(window.get(), "pauseButton")->isEnabled());

    // A click on the second row selects it in the controller and enables the step buttons.
    auto* list = window->stepListPanel()->listView();
    const QRect row = list->visualRect(window->stepModel()->index(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center() + QPoint(row.width() / 4, 0));
    ASSERT_TRUE(state->selectedStepID());
    EXPECT_EQ(*state->selectedStepID(), state->script().steps[1].id);
    for (const char* name : {"moveUpButton", "moveDownButton", "duplicateButton", "deleteButton"})
        EXPECT_TRUE(child<QToolButton>(window.get(), name)->isEnabled()) << name;

    child<QToolButton>(window.get(), "deleteButton")->click();
    EXPECT_EQ(state->script().steps.size(), 1u);
    EXPECT_EQ(window->stepModel()->rowCount(), 1);
}

TEST_F(WindowTest, DroppingARowMovesTheStepInTheDocument) {
    Script script;
    for (int i = 0; i < 4; ++i) script.steps.push_back(Step::create(StepKind::delay, {}));
    load(script);
    const Uuid first = state->script().steps[0].id;
    ui::StepListModel* model = window->stepModel();
    std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(0)}));
    model->dropMimeData(dragged.get(), Qt::MoveAction, 3, 0, {});   // between the third and fourth rows
    EXPECT_EQ(state->script().steps[2].id, first);
    EXPECT_EQ(model->idAt(2), first);
}

TEST_F(WindowTest, AlertClosedWithOkClearsTheMessageSoItCanComeAgain) {
    state->clearAll();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        state->togglePlay();   // an empty script is refused with an alert
        ASSERT_TRUE(state->alertMessage());
        QMessageBox* alert = window->alertBox();
        ASSERT_TRUE(alert && alert->isVisible());
        EXPECT_EQ(alert->windowTitle(), "提示");
        EXPECT_EQ(alert->text().toStdString(), *state->alertMessage());
        QAbstractButton* ok = alert->buttons().value(0);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->text(), "好");
        ok->click();
        EXPECT_TRUE(spinUntil([&] { return !state->alertMessage(); }));
        EXPECT_FALSE(alert->isVisible());
    }
}

TEST_F(WindowTest, LogPanelKeepsTheNewestHundredLinesAndFollowsTheLast) {
    for (int i = 1; i <= 101; ++i) state->log("line " + std::to_string(i));
    QPlainTextEdit* text = window->logPanel()->text();
    EXPECT_EQ(text->document()->blockCount(), 100);
    EXPECT_TRUE(text->document()->firstBlock().text().endsWith("line 2"));
    EXPECT_TRUE(text->document()->lastBlock().text().endsWith("line 101"));
    EXPECT_EQ(child<QLabel>(window.get(), "logCount")->text(), "100");
    QCoreApplication::processEvents();
    EXPECT_EQ(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
    EXPECT_GT(text->verticalScrollBar()->maximum(), 0);

    // "清空日志" empties the panel; the next line continues the sequence.
    child<QToolButton>(window.get(), "clearLogButton")->click();
    EXPECT_TRUE(text->toPlainText().isEmpty());
    state->log("after");
    EXPECT_EQ(text->document()->blockCount(), 1);
    EXPECT_TRUE(text->toPlainText().endsWith("after"));
    EXPECT_EQ(state->logs().back().id, 102u);
}

TEST_F(WindowTest, LoopCountTypedInTheToolbarReachesTheAutosaveAndBadTextChangesNothing) {
    auto* field = child<QLineEdit>(window.get(), "loopCount");
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "5");
    EXPECT_EQ(state->script().loopCount, 5);
    timers->advance(app::AppState::kAutosaveDelayMs);
    state->flushAutosave();
    EXPECT_NE(readFile(state->locations().autosavePath()).find("\"loopCount\":5"), std::string::npos);

    field->selectAll();
    QTest::keyClicks(field, "x1");
    EXPECT_EQ(state->script().loopCount, 5);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), "5");
}

QAction* menuItem(QToolButton* button, const QString& text) {
    for (QAction* a : button->menu()->actions())
        if (a->text() == text) return a;
    ADD_FAILURE() << "no menu item " << text.toStdString();
    return nullptr;
}

TEST_F(WindowTest, HotKeyRowsWarnAboutConflictsAndUnusableKeysAndClear) {
    state->setShowsSettings(true);
    ui::SettingsSheet* sheet = window->settingsSheet();
    ASSERT_TRUE(sheet->isVisible());
    ui::HotKeyRow* record = sheet->recordRow();
    ui::HotKeyRow* play = sheet->playRow();
    EXPECT_FALSE(sheet->conflictWarning()->isVisibleTo(sheet));

    menuItem(play->keyMenuButton(), "F9")->trigger();
    EXPECT_EQ(state->hotKeyPlay(), HotKeyShortcut::defaultRecord());
    EXPECT_TRUE(sheet->conflictWarning()->isVisibleTo(sheet));

    // A bare letter is not usable until a modifier is ticked.
    menuItem(record->keyMenuButton(), "A")->trigger();
    EXPECT_FALSE(sheet->conflictWarning()->isVisibleTo(sheet));
    EXPECT_TRUE(record->warning()->isVisibleTo(sheet));
    record->modifierBox(0)->click();   // ⌘
    EXPECT_FALSE(record->warning()->isVisibleTo(sheet));
    EXPECT_EQ(state->hotKeyRecord(), (HotKeyShortcut{KeyMap::code("A"), ModifierSet::command()}));

    // "清除" leaves the shortcut unset; the toolbar's help says so.
    record->clearButton()->click();
    EXPECT_EQ(state->hotKeyRecord(), HotKeyShortcut{});
    EXPECT_FALSE(record->clearButton()->isEnabled());
    EXPECT_TRUE(child<QToolButton>(window.get(), "recordButton")->toolTip().startsWith("未设置 "));
    play->clearButton()->click();
    EXPECT_FALSE(sheet->conflictWarning()->isVisibleTo(sheet));   // both unset: no conflict

    sheet->restoreDefaults()->click();
    EXPECT_EQ(state->hotKeyRecord(), HotKeyShortcut::defaultRecord());
    EXPECT_EQ(state->hotKeyPlay(), HotKeyShortcut::defaultPlay());
    EXPECT_EQ(record->keyMenuButton()->text(), "F9");

    child<QToolButton>(sheet, "closeSettings")->click();
    EXPECT_FALSE(state->showsSettings());
}

ImageTemplate namedTemplate(const std::string& name, double x, double y) {
    ImageTemplate t;
    t.name = name;
    t.widthPoints = 30;
    t.heightPoints = 20;
    t.originX = x;
    t.originY = y;
    return t;
}

TEST_F(WindowTest, TemplateRowsRenameAndDeleteTheirOwnTemplate) {
    Script script;
    script.templates = {namedTemplate("A", -1.7, 2.9), namedTemplate("B", 0, 0), namedTemplate("A", 5, 6)};
    load(script);
    window->showTemplateLibrary(true);
    ui::TemplateLibrarySheet* sheet = window->templateLibrarySheet();
    ASSERT_EQ(sheet->rowCount(), 3);
    EXPECT_EQ(sheet->row(0)->sizeLabel()->text(), "尺寸 30 × 20 · 截取位置 (-1, 2)");

    QLineEdit* name = sheet->row(2)->nameEdit();
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, "C");
    EXPECT_EQ(state->script().templates[0].name, "A");
    EXPECT_EQ(state->script().templates[2].name, "C");
    EXPECT_EQ(sheet->row(2)->nameEdit(), name);   // refreshed in place while typing, not rebuilt

    sheet->row(0)->deleteButton()->click();
    ASSERT_EQ(state->script().templates.size(), 2u);
    EXPECT_EQ(state->script().templates[0].name, "B");
    EXPECT_EQ(state->script().templates[1].name, "C");
    EXPECT_EQ(sheet->rowCount(), 2);
    EXPECT_EQ(sheet->row(1)->nameEdit()->text(), "C");
}

}  // namespace
}  // namespace tapforge::testing
