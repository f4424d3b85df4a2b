// The step inspector on a real X server (its own Xvfb), over a real AppState on the simulated
// desktop: which editors each kind shows, what the pickers offer, that edits reach the document
// and the autosave, and that merely showing a step never changes a byte of it.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "x11/X11TestSupport.h"

#include "app/AppState.h"
#include "model/ScriptJson.h"
#include "platform/sim/SimDesktop.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"
#include "ui/AppStateInspectorHost.h"
#include "ui/BranchEditor.h"
#include "ui/CheckResultView.h"
#include "ui/GotoEditor.h"
#include "ui/ImageCheckEditor.h"
#include "ui/NumberField.h"
#include "ui/StepInspector.h"
#include "ui/StepPicker.h"

namespace tapforge {
namespace {

namespace fs = std::filesystem;
using app::AppState;
using ui::StepInspector;

// One X server and one QApplication for the whole binary, started on first use.
QApplication& guiApplication() {
    static testing::XvfbServer* server = new testing::XvfbServer(1280, 800);
    static QApplication* application = [] {
        setenv("DISPLAY", server->display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "test_inspector";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class InspectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApplication();
        folder_ = fs::temp_directory_path() / ("tapforge-inspector-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        inspector_.reset();
        state_.reset();
        fs::remove_all(folder_);
    }

    // Starts the state, with `document` as the autosave it finds when given.
    void start(const std::optional<Script>& document = std::nullopt,
               std::shared_ptr<platform::sim::SimDesktop> desktop = platform::sim::SimDesktop::create()) {
        if (document) {
            std::ofstream(folder_ / "autosave.json", std::ios::binary) << *encodeScript(*document, JsonStyle::compact).json;
        }
        app::AppStateServices services;
        services.desktop = desktop->desktop();
        services.locations = {folder_.string(), (folder_ / "settings.conf").string()};
        state_ = std::make_unique<AppState>(std::move(services));
        inspector_.reset(ui::createStepInspector(*state_, nullptr));
        inspector_->resize(420, 900);
        inspector_->show();
    }

    Uuid add(StepKind kind) {
        state_->addStep(kind);
        return *state_->selectedStepID();
    }
    void select(const Uuid& id) {
        inspector_->setStepID(id);
        QApplication::processEvents();
    }
    std::string autosave() {
        state_->flushAutosave();
        return readFile(folder_ / "autosave.json");
    }
    template <class T>
    T* editor() {
        for (ui::StepEditor* e : inspector_->kindEditors())
            if (auto* found = qobject_cast<T*>(e)) return found;
        return nullptr;
    }
    QPushButton* buttonLabelled(const QString& text) {
        for (QPushButton* b : inspector_->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }

    fs::path folder_;
    std::unique_ptr<AppState> state_;
    std::unique_ptr<StepInspector> inspector_;
};

TEST_F(InspectorTest, EachKindShowsItsEditorsInOrder) {
    const std::vector<std::pair<StepKind, std::vector<std::string>>> table = {
        {StepKind::delay, {"DelayEditor"}},
        {StepKind::mouseClick, {"MouseClickEditor"}},
        {StepKind::mouseMove, {"MouseMoveEditor"}},
        {StepKind::mouseScroll, {"ScrollEditor"}},
        {StepKind::keyPress, {"KeyPressEditor"}},
        {StepKind::typeText, {"TypeTextEditor"}},
        {StepKind::colorCheck, {"ColorCheckEditor", "ConditionEditor", "BranchEditor"}},
        {StepKind::imageCheck, {"ImageCheckEditor", "ConditionEditor", "BranchEditor"}},
        {StepKind::lua, {"LuaEditor", "BranchEditor"}},
        {StepKind::goTo, {"GotoEditor"}},
        {StepKind::comment, {"CommentEditor"}},
    };
    start();
    for (const auto& [kind, expected] : table) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        select(add(kind));
        std::vector<std::string> shown;
        for (ui::StepEditor* e : inspector_->kindEditors()) shown.push_back(e->metaObject()->className() + 14);   // "tapforge::ui::"
        EXPECT_EQ(shown, expected);
        // The basic section names the kind.
        bool kindShown = false;
        const std::string_view kindLabel = label(kind);
        for (QLabel* shownLabel : inspector_->findChildren<QLabel*>())
            kindShown |= shownLabel->text() == QString::fromUtf8(kindLabel.data(), static_cast<int>(kindLabel.size()));
        EXPECT_TRUE(kindShown);
    }
}

TEST_F(InspectorTest, BranchKindsOfferRegionClickOnlyForImageChecks) {
    start();
    for (const auto& [kind, count] : {std::pair{StepKind::imageCheck, 7}, {StepKind::colorCheck, 6}, {StepKind::lua, 6}}) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        select(add(kind));
        auto* branches = editor<ui::BranchEditor>();
        ASSERT_NE(branches, nullptr);
        for (ui::BranchRow* row : {branches->successRow(), branches->failureRow()}) {
            QComboBox* kinds = row->kindPicker();
            ASSERT_EQ(kinds->count(), count);
            EXPECT_EQ(kinds->findText(QStringLiteral("点击识别范围")) >= 0, count == 7);
            EXPECT_EQ(kinds->itemText(count - 1), QStringLiteral("停止脚本"));
        }
    }
}

TEST_F(InspectorTest, DelayPresetUpdatesTheListRowAndTheAutosave) {
    start();
    const Uuid id = add(StepKind::delay);
    select(id);
    const int row = static_cast<int>(state_->script().steps.size()) - 1;
    QSignalSpy changes(state_.get(), &AppState::scriptChanged);
    QPushButton* preset = buttonLabelled(QStringLiteral("2000"));
    ASSERT_NE(preset, nullptr);
    QTest::mouseClick(preset, Qt::LeftButton);
    ASSERT_EQ(changes.count(), 1);
    const auto change = changes.at(0).at(0).value<app::ScriptChange>();
    EXPECT_EQ(change.kind, app::ScriptChange::Kind::stepChanged);
    EXPECT_EQ(change.first, row);
    EXPECT_EQ(state_->step(id).summary(), "延迟 2000 ms");
    const ScriptDecodeResult saved = decodeScript(autosave());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved.script->steps.at(row).delayMs, 2000);
    // Each click is its own undo step; typing is not involved.
    QTest::mouseClick(buttonLabelled(QStringLiteral("5000")), Qt::LeftButton);
    state_->undo();
    EXPECT_EQ(state_->step(id).delayMs, 2000);
    // The field shows the value.
    EXPECT_EQ(inspector_->findChild<ui::NumberField*>()->lineEdit()->text(), QStringLiteral("2000"));
}

TEST_F(InspectorTest, ShowingAStepThatControlsCannotHoldChangesNothing) {
    // Values a 32-bit spin box or a 0.5–1.0 slider would clamp, and a jump to a deleted step.
    Script document;
    Step delay(StepKind::delay);
    delay.delayMs = 5'000'000'000;
    Step image(StepKind::imageCheck);
    image.threshold = 0.3;
    image.searchFullScreen = false;
    image.searchMargin = 1e300;
    image.onFailure.kind = BranchKind::clickRegion;
    image.onSuccess.clickCount = 7;
    Step color(StepKind::colorCheck);
    color.onSuccess.kind = BranchKind::clickRegion;   // not offered for colour checks
    color.colorPoints.push_back(ColorPoint{.tolerance = 4000});
    Step jump(StepKind::goTo);
    jump.gotoStepID = Uuid::random();
    Step key(StepKind::keyPress);
    key.keyCode = 54;
    key.modifiers = ModifierSet::function() | ModifierSet{1 << 20};
    document.steps = {delay, image, color, jump, key};
    start(document);
    const std::string before = autosave();
    ASSERT_NE(before.find("5000000000"), std::string::npos);

    for (const Step& step : document.steps) select(step.id);
    inspector_->refresh();
    QApplication::processEvents();

    EXPECT_EQ(autosave(), before);
    EXPECT_EQ(state_->script(), decodeScript(before).script);
    EXPECT_FALSE(state_->canUndo());

    // A change from elsewhere (an undo, a pick) to a value the shown slider cannot hold.
    select(image.id);
    Step changed = state_->step(image.id);
    changed.threshold = 0.95;
    state_->writeStep(image.id, changed);
    changed.threshold = 0.3;
    state_->writeStep(image.id, changed);
    EXPECT_EQ(state_->step(image.id).threshold, 0.3);
}

TEST_F(InspectorTest, NumberFieldsRefuseWhatTheFileCannotStore) {
    start();
    const Uuid delay = add(StepKind::delay);
    const Uuid click = add(StepKind::mouseClick);
    const Script original = state_->script();
    const std::vector<std::pair<Uuid, std::vector<const char*>>> table = {
        {delay, {"nan", "abc", "inf", " ", "12abc", "1.5", "-1", "9223372036854775808"}},   // delayMs
        {click, {"nan", "abc", "inf", "-nan", "1e999", " ", "12abc", "0x10"}},              // x
    };
    for (const auto& [id, texts] : table) {
        select(id);
        auto* field = inspector_->findChildren<ui::NumberField*>().value(0);
        ASSERT_NE(field, nullptr);
        // Pasted whole, as one edit: typed key by key, "12abc" would first store a valid 12.
        for (const char* text : texts) {
            SCOPED_TRACE(text);
            QApplication::clipboard()->setText(QString::fromLatin1(text));
            field->lineEdit()->setFocus();
            QTest::keyClick(field->lineEdit(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(field->lineEdit(), Qt::Key_V, Qt::ControlModifier);
            ASSERT_EQ(field->lineEdit()->text(), QString::fromLatin1(text));
            EXPECT_EQ(state_->script(), original);
            EXPECT_FALSE(field->problem().isEmpty());
        }
    }
    // Accepted text is written, and typing one field merges into one undo step.
    select(delay);
    auto* field = inspector_->findChild<ui::NumberField*>();
    field->lineEdit()->clear();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("1234"));
    EXPECT_EQ(state_->step(delay).delayMs, 1234);
    EXPECT_TRUE(field->problem().isEmpty());
    state_->undo();
    EXPECT_EQ(state_->step(delay).delayMs, 500);
}

TEST(NumberFieldParse, AcceptsOnlyStorableNumbers) {
    using ui::NumberField;
    constexpr int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(NumberField::parseInteger(" +42 ", lo, hi), 42);
    EXPECT_EQ(NumberField::parseInteger("-9223372036854775808", lo, hi), lo);
    EXPECT_EQ(NumberField::parseInteger("9223372036854775808", lo, hi), std::nullopt);
    EXPECT_EQ(NumberField::parseInteger("256", 0, 255), std::nullopt);
    EXPECT_EQ(NumberField::parseInteger("-1", 0, 255), std::nullopt);
    EXPECT_EQ(NumberField::parseInteger("1.0", lo, hi), std::nullopt);
    EXPECT_EQ(NumberField::parseDecimal("-0"), 0.0);
    EXPECT_FALSE(std::signbit(*NumberField::parseDecimal("-0")));
    EXPECT_EQ(NumberField::parseDecimal("1e3"), 1000.0);
    for (const char* bad : {"nan", "NaN", "inf", "-infinity", "1e400", "0x10", "1,5", ""})
        EXPECT_EQ(NumberField::parseDecimal(bad), std::nullopt) << bad;
}

TEST_F(InspectorTest, JumpToADeletedStepShowsTheWarning) {
    start();
    const Uuid target = add(StepKind::delay);
    const Uuid jump = add(StepKind::goTo);
    select(jump);
    auto* picker = editor<ui::GotoEditor>()->findChild<ui::StepPicker*>();
    const int targetEntry = static_cast<int>(state_->script().steps.size()) - 1;   // entry 0 is "请选择步骤"
    picker->comboBox()->setCurrentIndex(targetEntry);
    emit picker->comboBox()->activated(targetEntry);
    ASSERT_EQ(state_->step(jump).gotoStepID, target);
    EXPECT_FALSE(picker->showsDeletedWarning());

    state_->setSelectedStepID(target);
    state_->deleteSelected();
    select(jump);
    picker = editor<ui::GotoEditor>()->findChild<ui::StepPicker*>();
    EXPECT_TRUE(picker->showsDeletedWarning());
    EXPECT_EQ(state_->step(jump).gotoStepID, target);   // shown, not rewritten
}

TEST_F(InspectorTest, AFifoAsLuaFileDoesNotBlockTheWindow) {
    const fs::path fifo = folder_ / "pipe.lua";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Script document;
    Step lua(StepKind::lua);
    lua.luaFile = fifo.string();
    document.steps = {lua};
    start(document);
    // A blocked open of the FIFO would never return: the alarm ends the test as a failure.
    alarm(20);
    const auto began = std::chrono::steady_clock::now();
    select(lua.id);
    alarm(0);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    bool placeholder = false;
    for (QPlainTextEdit* view : inspector_->findChildren<QPlainTextEdit*>())
        placeholder |= view->toPlainText() == QStringLiteral("（文件不存在或为空）");
    EXPECT_TRUE(placeholder);
}

TEST_F(InspectorTest, ChecksShowWhatTheirLastTestSaw) {
    // A noisy screen with one flat block: a template cut from the noise, a colour point on the block.
    platform::RgbaImage screen{200, 150, std::vector<uint8_t>(200 * 150 * 4)};
    uint32_t seed = 7;
    for (size_t i = 0; i < screen.pixels.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        screen.pixels[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(seed >> 16);
    }
    for (int y = 100; y < 150; ++y)
        for (int x = 150; x < 200; ++x) std::memcpy(&screen.pixels[(y * 200 + x) * 4], "\x33\x66\x99\xff", 4);
    platform::RgbaImage cut{20, 20, {}};
    for (int y = 40; y < 60; ++y) cut.pixels.insert(cut.pixels.end(), screen.pixel(50, y), screen.pixel(70, y));
    Step image(StepKind::imageCheck);
    image.imageTemplate = ImageTemplate{"按钮", 20, 20, 50, 40, 1.0, vision::encodeBase64(*vision::PngCodec::encode(cut))};
    Step color(StepKind::colorCheck);
    color.colorPoints = {ColorPoint{.x = 170, .y = 120, .red = 1, .green = 2, .blue = 3, .tolerance = 0}};
    Script document;
    document.steps = {image, color};
    start(document, platform::sim::SimDesktop::createWithScreenshot(screen));

    const auto resultText = [this] {
        auto* view = inspector_->findChild<ui::CheckResultView*>();
        EXPECT_TRUE(view && view->isVisibleTo(inspector_.get()));
        QStringList texts;
        if (view)
            for (QLabel* label : view->findChildren<QLabel*>()) texts << label->text();
        return texts.join(' ').trimmed();
    };
    select(image.id);
    EXPECT_EQ(inspector_->findChild<ui::CheckResultView*>()->isVisibleTo(inspector_.get()), false);
    state_->testStep(image.id);
    EXPECT_EQ(resultText().toStdString(), "上次测试：通过 · 最高相似度 100.0% · 位置 (60, 50)");
    const QLabel* picture = nullptr;
    for (QLabel* label : inspector_->findChild<ui::CheckResultView*>()->findChildren<QLabel*>())
        if (!label->pixmap().isNull()) picture = label;
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixmap().size(), QSize(200, 150));   // the whole (small) screen was searched

    select(color.id);
    state_->testStep(color.id);
    const QString colors = resultText();
    EXPECT_TRUE(colors.contains(QStringLiteral("未通过"))) << colors.toStdString();
    EXPECT_TRUE(colors.contains(QStringLiteral("期望 #010203"))) << colors.toStdString();
    EXPECT_TRUE(colors.contains(QStringLiteral("实际 #336699"))) << colors.toStdString();
}

TEST_F(InspectorTest, ColourPointRowsEditAndDeleteTheirOwnPoint) {
    Step color(StepKind::colorCheck);
    color.colorPoints = {ColorPoint{.x = 1, .y = 2, .red = 255}, ColorPoint{.x = 120.7, .y = 45.2, .red = 255, .blue = 170}};
    Script document;
    document.steps = {color};
    start(document);
    select(color.id);
    QLabel* shown = nullptr;
    for (QLabel* label : inspector_->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("#FF00AA")) shown = label;
    ASSERT_NE(shown, nullptr);

    auto tolerances = inspector_->findChildren<ui::NumberField*>();
    ASSERT_GE(tolerances.size(), 3);   // two points, then the wait fields
    tolerances[1]->lineEdit()->setFocus();
    QTest::keyClick(tolerances[1]->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(tolerances[1]->lineEdit(), QStringLiteral("300"));   // 3, 30, then beyond a channel
    EXPECT_EQ(state_->step(color.id).colorPoints[1].tolerance, 30);
    EXPECT_FALSE(tolerances[1]->problem().isEmpty());

    QToolButton* remove = nullptr;
    for (QToolButton* b : inspector_->findChildren<QToolButton*>())
        if (b->toolTip() == QStringLiteral("删除") && !remove) remove = b;
    ASSERT_NE(remove, nullptr);
    QTest::mouseClick(remove, Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_EQ(state_->step(color.id).colorPoints.size(), 1u);
    EXPECT_EQ(state_->step(color.id).colorPoints[0].id, color.colorPoints[1].id);
}

TEST(ImagePreview, IsNeverDrawnNearItsOwnSize) {
    for (const auto& [w, h] : {std::pair{10, 10}, {100, 60}, {170, 100}, {240, 140}, {300, 20}, {2000, 1500}, {1, 1}}) {
        const double scale = ui::ImageCheckEditor::previewScale(w, h);
        EXPECT_TRUE(scale <= 0.7 || scale >= 1.4) << w << "x" << h << " " << scale;
        EXPECT_LE(w * scale, 480.0);
        EXPECT_LE(h * scale, 280.0);
    }
}

TEST_F(InspectorTest, LabelsOfEveryKindAreRenderedWithGlyphs) {
    start();
    for (const StepKind kind : allCases<StepKind>()) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        select(add(kind));
        const QImage shot = inspector_->grab().toImage();
        ASSERT_FALSE(shot.isNull());
        // Every section title and label of the form has its glyphs in the font (no empty boxes)
        // and leaves ink where it is drawn in the screenshot.
        int checked = 0;
        for (QGroupBox* box : inspector_->widget()->findChildren<QGroupBox*>()) {
            const QFontMetrics metrics(box->font());
            for (const QChar c : box->title()) EXPECT_TRUE(metrics.inFont(c)) << box->title().toStdString();
            QLabel* first = box->findChild<QLabel*>();
            if (!first || !first->isVisibleTo(inspector_.get()) || first->text().isEmpty()) continue;
            const QRect where(first->mapTo(inspector_.get(), QPoint(0, 0)), first->size());
            const QImage part = shot.copy(where);
            const QRgb background = part.pixel(0, 0);
            int ink = 0;
            for (int y = 0; y < part.height(); ++y)
                for (int x = 0; x < part.width(); ++x) ink += part.pixel(x, y) != background;
            EXPECT_GT(ink, 20) << first->text().toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 0);
    }
}

}  // namespace
}  // namespace tapforge

// Sanitizer builds: what D-Bus and fontconfig, loaded by Qt, keep until exit is theirs.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}
