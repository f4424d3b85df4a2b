#include "ui/MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "input/keymap/KeyMap.h"
#include "ui/HotKeyRow.h"
#include "ui/Icons.h"
#include "ui/LogPanel.h"
#include "ui/SettingsSheet.h"
#include "ui/StepListModel.h"
#include "ui/StepListPanel.h"
#include "ui/TemplateLibrarySheet.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

namespace {

QFrame* divider(QFrame::Shape shape = QFrame::HLine) {
    auto* line = new QFrame;
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The menu's record shortcut (Ctrl+Shift+R) as the recorder sees its key press, so the press
// that stops a recording is not kept as a step.
HotKeyShortcut menuRecordShortcut() {
    return {KeyMap::code("R"), ModifierSet::control() | ModifierSet::shift()};
}

}  // namespace

MainWindow::MainWindow(app::AppState& state, SessionIdentity identity, QWidget* parent)
    : QMainWindow(parent), state_(state), identity_(std::move(identity)) {
    setObjectName("MainWindow");
    setWindowTitle(QStringLiteral("Tapforge"));
    resize(1180, 760);
    setMinimumSize(960, 640);

    model_ = new StepListModel(this);
    model_->setSource(&state_.script());
    model_->onSetEnabled = [this](const Uuid& id, bool enabled) {
        Step s = state_.step(id);
        s.enabled = enabled;
        state_.writeStep(id, s);
    };
    model_->onMoveRows = [this](std::vector<int> rows, int destination) { state_.moveSteps(std::move(rows), destination); };

    buildMenus();
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());
    layout->addWidget(divider());
    layout->addWidget(buildBanner());

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    listPanel_ = new StepListPanel(model_);
    listPanel_->setMinimumWidth(340);
    listPanel_->onSelect = [this](std::optional<Uuid> id) { state_.setSelectedStepID(id); };
    split->addWidget(listPanel_);
    inspectorSlot_ = new QStackedWidget;
    inspectorSlot_->setObjectName("StepInspector");
    inspectorSlot_->setMinimumWidth(400);
    inspectorSlot_->addWidget(makeEmptyState("square.dashed", 30, QStringLiteral("选择左侧的一个步骤来编辑属性"), {}));
    split->addWidget(inspectorSlot_);
    split->setSizes({430, 480});
    layout->addWidget(split, 1);
    layout->addWidget(divider());
    logPanel_ = new LogPanel;
    layout->addWidget(logPanel_);
    layout->addWidget(buildStatusBar());
    setCentralWidget(central);

    using app::AppState;
    connect(&state_, &AppState::scriptChanged, this, &MainWindow::onScriptChanged);
    connect(&state_, &AppState::selectedStepIDChanged, this, &MainWindow::updateSelection);
    connect(&state_, &AppState::recordingChanged, this, &MainWindow::updateRecording);
    connect(&state_, &AppState::recordsMouseMoveChanged, this,
            [this] { mouseTrack_->setChecked(state_.recordsMouseMove()); });
    connect(&state_, &AppState::logsChanged, this, [this] { logPanel_->sync(state_.logs()); });
    connect(&state_, &AppState::statusMessageChanged, this,
            [this] { status_->setText(QString::fromStdString(state_.statusMessage())); });
    connect(&state_, &AppState::alertMessageChanged, this, &MainWindow::updateAlert);
    connect(&state_, &AppState::permissionsChanged, this, &MainWindow::updatePermissions);
    connect(&state_, &AppState::showsSettingsChanged, this, &MainWindow::updateSettingsSheet);
    connect(&state_, &AppState::hotKeysChanged, this, &MainWindow::updateHotKeyHelp);
    connect(&state_, &AppState::runnerChanged, this, &MainWindow::updateRunner);
    connect(&state_, &AppState::undoStateChanged, this, &MainWindow::updateUndo);

    // The banner disappears by itself once the user has granted a permission.
    permissionTimer_ = new QTimer(this);
    permissionTimer_->setInterval(2000);
    connect(permissionTimer_, &QTimer::timeout, this, [this] { state_.refreshPermissions(); });
    permissionTimer_->start();

    status_->setText(QString::fromStdString(state_.statusMessage()));
    logPanel_->sync(state_.logs());
    updateScriptCounts();
    updateSelection();
    updateRunner();
    updateRecording();
    updateHotKeyHelp();
    updatePermissions();
    updateUndo();
    updateAlert();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    file->addAction(QStringLiteral("新建脚本"), QKeySequence(Qt::CTRL | Qt::Key_N), this, [this] { state_.newScript(); });
    file->addAction(QStringLiteral("打开脚本…"), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] { state_.openScript(); });
    file->addAction(QStringLiteral("保存脚本…"), QKeySequence(Qt::CTRL | Qt::Key_S), this, [this] { state_.saveScript(); });

    QMenu* edit = menuBar()->addMenu(QStringLiteral("编辑"));
    undo_ = edit->addAction(QStringLiteral("撤销"), QKeySequence(Qt::CTRL | Qt::Key_Z), this, [this] { state_.undo(); });
    redo_ = edit->addAction(QStringLiteral("重做"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this,
                            [this] { state_.redo(); });

    QMenu* control = menuBar()->addMenu(QStringLiteral("控制"));
    recordMenu_ = control->addAction(QStringLiteral("开始录制"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), this, [this] {
        if (state_.isRecording()) state_.stopRecording(menuRecordShortcut());
        else state_.startRecording();
    });
    playMenu_ = control->addAction(QStringLiteral("开始播放"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), this,
                                   [this] { state_.togglePlay(); });
    pauseMenu_ = control->addAction(QStringLiteral("暂停 / 继续"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), this,
                                    [this] { state_.togglePause(); });
}

QWidget* MainWindow::buildToolbar() {
    auto* bar = new QWidget;
    bar->setObjectName("Toolbar");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 6, 8, 6);

    record_ = makeToolButton("record.circle", QStringLiteral("录制"));
    record_->setObjectName("recordButton");
    connect(record_, &QToolButton::clicked, this, [this] {
        if (state_.isRecording()) state_.stopRecording();
        else state_.startRecording();
    });
    play_ = makeToolButton("play.fill", QStringLiteral("播放"));
    play_->setObjectName("playButton");
    connect(play_, &QToolButton::clicked, this, [this] { state_.togglePlay(); });
    pause_ = makeToolButton("pause.fill", QStringLiteral("暂停"), QStringLiteral("暂停 / 继续执行"));
    pause_->setObjectName("pauseButton");
    connect(pause_, &QToolButton::clicked, this, [this] { state_.togglePause(); });
    for (auto* b : {record_, play_, pause_}) row->addWidget(b);
    auto* sep = divider(QFrame::VLine);
    sep->setFixedHeight(18);
    row->addWidget(sep);

    auto* add = makeToolButton("plus", QStringLiteral("添加步骤"));
    add->setObjectName("addStepButton");
    add->setMinimumWidth(110);
    add->setPopupMode(QToolButton::InstantPopup);
    auto* kinds = new QMenu(add);
    for (const auto& c : EnumTable<StepKind>::cases) {
        const StepKind kind = c.value;
        kinds->addAction(icon(iconName(kind)), QString::fromUtf8(c.label.data(), qsizetype(c.label.size())), this,
                         [this, kind] { state_.addStep(kind); });
    }
    add->setMenu(kinds);
    row->addWidget(add);

    up_ = makeToolButton("arrow.up", QStringLiteral("上移"), QStringLiteral("上移"));
    connect(up_, &QToolButton::clicked, this, [this] { state_.moveSelected(-1); });
    down_ = makeToolButton("arrow.down", QStringLiteral("下移"), QStringLiteral("下移"));
    connect(down_, &QToolButton::clicked, this, [this] { state_.moveSelected(1); });
    duplicate_ = makeToolButton("plus.square.on.square", QStringLiteral("复制步骤"), QStringLiteral("复制步骤"));
    connect(duplicate_, &QToolButton::clicked, this, [this] { state_.duplicateSelected(); });
    delete_ = makeToolButton("trash", QStringLiteral("删除步骤"), QStringLiteral("删除步骤"));
    connect(delete_, &QToolButton::clicked, this, [this] { state_.deleteSelected(); });
    up_->setObjectName("moveUpButton");
    down_->setObjectName("moveDownButton");
    duplicate_->setObjectName("duplicateButton");
    delete_->setObjectName("deleteButton");
    for (auto* b : {up_, down_, duplicate_, delete_}) row->addWidget(b);
    row->addStretch();

    library_ = makeToolButton("photo.stack", {}, QStringLiteral("管理供图像判断与 Lua 使用的命名模板"));
    library_->setObjectName("libraryButton");
    connect(library_, &QToolButton::clicked, this, [this] { showTemplateLibrary(true); });
    row->addWidget(library_);
    mouseTrack_ = new QCheckBox(QStringLiteral("录制鼠标轨迹"));
    connect(mouseTrack_, &QCheckBox::toggled, this, [this](bool on) { state_.setRecordsMouseMove(on); });
    row->addWidget(mouseTrack_);
    row->addWidget(makeLabel(QStringLiteral("循环")));
    loopCount_ = new QLineEdit;
    loopCount_->setObjectName("loopCount");
    loopCount_->setFixedWidth(46);
    // Only a whole number reaches the document; other text changes nothing and is replaced by
    // the stored count when the field is left.
    connect(loopCount_, &QLineEdit::textEdited, this, [this](const QString& text) {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok);
        if (ok && n != state_.script().loopCount) state_.setLoopCount(n);
    });
    connect(loopCount_, &QLineEdit::editingFinished, this,
            [this] { loopCount_->setText(QString::number(state_.script().loopCount)); });
    row->addWidget(loopCount_);
    row->addWidget(makeLabel(QStringLiteral("次（0=无限）")));

    auto* scriptMenu = makeToolButton("doc", QStringLiteral("脚本"));
    scriptMenu->setObjectName("scriptMenuButton");
    scriptMenu->setMinimumWidth(80);
    scriptMenu->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(scriptMenu);
    menu->addAction(QStringLiteral("新建脚本"), this, [this] { state_.newScript(); });
    menu->addAction(QStringLiteral("打开脚本…"), this, [this] { state_.openScript(); });
    menu->addAction(QStringLiteral("另存为…"), this, [this] { state_.saveScript(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("清空所有步骤"), this, [this] { state_.clearAll(); });
    scriptMenu->setMenu(menu);
    row->addWidget(scriptMenu);
    return bar;
}

QWidget* MainWindow::buildBanner() {
    banner_ = new QWidget;
    banner_->setObjectName("PermissionBanner");
    auto* outer = new QVBoxLayout(banner_);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* strip = new QWidget;
    strip->setAutoFillBackground(true);
    QPalette pal = strip->palette();
    pal.setColor(QPalette::Window, QColor(255, 149, 0, 30));
    strip->setPalette(pal);
    auto* row = new QHBoxLayout(strip);
    auto* warn = new QLabel;
    warn->setPixmap(tinted(icon("exclamationmark.triangle.fill").pixmap(20), QColor(230, 126, 0)));
    row->addWidget(warn, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    auto permissionLine = [&](const QString& text, auto request) {
        auto* line = new QWidget;
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(makeLabel(text, 0, QFont::Medium));
        auto* go = new QPushButton(QStringLiteral("去授权"));
        connect(go, &QPushButton::clicked, this, request);
        h->addWidget(go);
        h->addStretch();
        column->addWidget(line);
        return line;
    };
    bannerInput_ = permissionLine(QStringLiteral("未获得「辅助功能」权限，无法录制/回放鼠标键盘。"),
                                  [this] { state_.ensureAccessibility(); });
    bannerScreen_ = permissionLine(QStringLiteral("未获得「屏幕录制」权限，无法截图取色与图像比对。"),
                                   [this] { state_.ensureScreenRecording(); });
    column->addWidget(makeLabel(QStringLiteral("在系统设置里授权后需要重启本应用"), 11, QFont::Normal, LabelTone::secondary));
    column->addWidget(makeLabel(QStringLiteral("已勾选仍提示无权限？多半是重新编译后授权记录失效，点右侧「权限诊断」修复。"), 11,
                                QFont::Normal, LabelTone::secondary));
    row->addLayout(column, 1);
    auto* again = new QPushButton(QStringLiteral("重新检测"));
    connect(again, &QPushButton::clicked, this, [this] { state_.refreshPermissions(); });
    auto* restart = new QPushButton(QStringLiteral("重启应用"));
    connect(restart, &QPushButton::clicked, this, [this] { state_.relaunch(); });
    auto* diagnose = new QPushButton(QStringLiteral("权限诊断"));
    connect(diagnose, &QPushButton::clicked, this, [this] { permissionSheet()->open(); });
    for (auto* b : {again, restart, diagnose}) row->addWidget(b, 0, Qt::AlignVCenter);
    outer->addWidget(strip);
    outer->addWidget(divider());
    return banner_;
}

QWidget* MainWindow::buildStatusBar() {
    auto* bar = new QWidget;
    bar->setObjectName("StatusBar");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 3, 8, 3);
    spinner_ = new QProgressBar;
    spinner_->setRange(0, 0);
    spinner_->setFixedSize(40, 10);
    spinner_->setTextVisible(false);
    row->addWidget(spinner_);
    runState_ = makeLabel({});
    row->addWidget(runState_);
    status_ = makeLabel({});
    status_->setObjectName("statusMessage");
    row->addWidget(status_);
    stepCount_ = makeLabel({}, 0, QFont::Normal, LabelTone::secondary);
    row->addWidget(stepCount_);
    row->addStretch();
    auto* clear = makeToolButton("eraser", QStringLiteral("清空日志"), QStringLiteral("清空日志"));
    clear->setObjectName("clearLogButton");
    connect(clear, &QToolButton::clicked, this, [this] { state_.clearLogs(); });
    auto* settings = makeToolButton("gearshape", QStringLiteral("设置"), QStringLiteral("设置"));
    settings->setObjectName("settingsButton");
    connect(settings, &QToolButton::clicked, this, [this] { state_.setShowsSettings(true); });
    row->addWidget(clear);
    row->addWidget(settings);
    return bar;
}

void MainWindow::setInspector(QWidget* inspector) {
    while (inspectorSlot_->count() > 1) {
        QWidget* old = inspectorSlot_->widget(1);
        inspectorSlot_->removeWidget(old);
        old->deleteLater();
    }
    if (inspector) inspectorSlot_->addWidget(inspector);
    updateSelection();
}

void MainWindow::onScriptChanged(const app::ScriptChange& change) {
    using Kind = app::ScriptChange::Kind;
    switch (change.kind) {
    case Kind::stepChanged: model_->rowChanged(change.first); break;
    case Kind::stepsInserted:
    case Kind::stepsRemoved: model_->refresh(StepListModel::Compare::identifiersOnly); break;
    case Kind::settings: break;
    case Kind::reset: model_->refresh(); break;
    }
    updateScriptCounts();
    // A removal or a reset may have taken the selected step with it.
    updateSelection();
}

void MainWindow::updateScriptCounts() {
    const Script& s = state_.script();
    stepCount_->setText(QStringLiteral("步骤 %1").arg(s.steps.size()));
    listPanel_->updateCount();
    library_->setText(QStringLiteral("模板库 %1").arg(s.templates.size()));
    library_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    if (!loopCount_->hasFocus()) loopCount_->setText(QString::number(s.loopCount));
}

void MainWindow::updateSelection() {
    const auto& id = state_.selectedStepID();
    const bool has = id && model_->rowOf(*id);
    listPanel_->showSelection(has ? id : std::nullopt);
    for (auto* b : {up_, down_, duplicate_, delete_}) b->setEnabled(has);
    inspectorSlot_->setCurrentIndex(has && inspectorSlot_->count() > 1 ? 1 : 0);
}

void MainWindow::updateRunner() {
    const bool running = state_.isRunning();
    const bool paused = state_.isPaused();
    play_->setText(running ? QStringLiteral("停止") : QStringLiteral("播放"));
    play_->setIcon(icon(running ? "stop.fill" : "play.fill"));
    pause_->setText(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    pause_->setIcon(icon(paused ? "playpause.fill" : "pause.fill"));
    pause_->setEnabled(running);
    playMenu_->setText(running ? QStringLiteral("停止播放") : QStringLiteral("开始播放"));
    pauseMenu_->setEnabled(running);
    spinner_->setVisible(running);
    runState_->setVisible(running);
    if (running) {
        runState_->setText(paused ? QStringLiteral("已暂停")
                                  : QStringLiteral("运行中（第 %1 轮）").arg(state_.cycleCount()));
        setTone(runState_, paused ? LabelTone::orange : LabelTone::green);
    }
    model_->setCurrentStep(running ? state_.currentStepID() : std::nullopt);
}

void MainWindow::updateRecording() {
    const bool recording = state_.isRecording();
    record_->setText(recording ? QStringLiteral("停止录制") : QStringLiteral("录制"));
    record_->setIcon(recording ? QIcon(tinted(icon("stop.circle.fill").pixmap(32), QColor(215, 45, 45)))
                               : icon("record.circle"));
    record_->setStyleSheet(recording ? QStringLiteral("color: rgb(215,45,45);") : QString());
    recordMenu_->setText(recording ? QStringLiteral("停止录制") : QStringLiteral("开始录制"));
}

void MainWindow::updateHotKeyHelp() {
    record_->setToolTip(shortcutText(state_.hotKeyRecord()) + QStringLiteral(" 开始 / 停止录制（可在设置里改）"));
    play_->setToolTip(shortcutText(state_.hotKeyPlay()) + QStringLiteral(" 开始 / 停止播放（可在设置里改）"));
}

void MainWindow::updatePermissions() {
    const bool input = state_.accessibilityGranted(), screen = state_.screenRecordingGranted();
    bannerInput_->setVisible(!input);
    bannerScreen_->setVisible(!screen);
    banner_->setVisible(!input || !screen);
}

void MainWindow::updateUndo() {
    undo_->setEnabled(state_.canUndo());
    redo_->setEnabled(state_.canRedo());
}

void MainWindow::updateAlert() {
    const auto& message = state_.alertMessage();
    if (!message) {
        if (alert_ && alert_->isVisible()) alert_->hide();
        return;
    }
    if (!alert_) {
        alert_ = new QMessageBox(this);
        alert_->setObjectName("alert");
        alert_->setWindowTitle(QStringLiteral("提示"));
        alert_->setIcon(QMessageBox::Information);
        alert_->addButton(QStringLiteral("好"), QMessageBox::RejectRole);
        alert_->setWindowModality(Qt::WindowModal);
        connect(alert_, &QMessageBox::finished, this, [this] { state_.dismissAlert(); });
    }
    alert_->setText(QString::fromStdString(*message));
    if (!alert_->isVisible()) alert_->open();
}

void MainWindow::updateSettingsSheet() {
    if (state_.showsSettings()) {
        settingsSheet()->update();
        settingsSheet()->open();
    } else if (settings_ && settings_->isVisible()) {
        settings_->hide();
    }
}

void MainWindow::showTemplateLibrary(bool shows) {
    if (shows) {
        templateLibrarySheet()->update();
        templateLibrarySheet()->open();
    } else if (librarySheet_) {
        librarySheet_->hide();
    }
}

SettingsSheet* MainWindow::settingsSheet() {
    if (!settings_) {
        settings_ = new SettingsSheet(state_, this);
        connect(settings_, &QDialog::finished, this, [this] { state_.setShowsSettings(false); });
    }
    return settings_;
}

TemplateLibrarySheet* MainWindow::templateLibrarySheet() {
    if (!librarySheet_) librarySheet_ = new TemplateLibrarySheet(state_, this);
    return librarySheet_;
}

PermissionSheet* MainWindow::permissionSheet() {
    if (!permissions_) permissions_ = new PermissionSheet(state_, identity_, this);
    return permissions_;
}

void MainWindow::showEvent(QShowEvent* event) {
    state_.refreshPermissions();
    QMainWindow::showEvent(event);
}

}  // namespace tapforge::ui
