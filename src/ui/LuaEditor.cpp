#include "ui/LuaEditor.h"

#include <QFontDatabase>
#include <QIcon>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "lua/LuaReference.h"
#include "ui/EditorLimits.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

namespace {

QPlainTextEdit* codeView(const QString& text) {
    auto* view = new QPlainTextEdit(text);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setMinimumHeight(160);
    return view;
}

QPushButton* iconButton(const char* icon, const QString& text) {
    return new QPushButton(QIcon::fromTheme(QString::fromLatin1(icon)), text);
}

}  // namespace

LuaEditor::LuaEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent) : StepEditor(host, stepID, parent) {
    QVBoxLayout* file = sectionLayout(addSection(column(), QStringLiteral("Lua 脚本文件")));
    path_ = new QLineEdit;
    path_->setPlaceholderText(QStringLiteral("/path/to/script.lua"));
    auto* choose = new QPushButton(QStringLiteral("选择…"));
    auto* sample = iconButton("document-new", QStringLiteral("新建示例脚本"));
    auto* open = iconButton("document-edit", QStringLiteral("用默认编辑器编辑"));
    auto* reveal = iconButton("folder", QStringLiteral("在访达中显示"));
    info_ = new QLabel;
    auto* test = iconButton("media-playback-start", QStringLiteral("测试运行"));
    file->addWidget(rowOf({new QLabel(QStringLiteral("文件路径")), path_, choose}));
    file->addWidget(rowOf({sample, open, reveal, nullptr}));
    file->addWidget(info_);
    file->addWidget(hintLabel(QStringLiteral("每次执行前都会重新读取文件，改完保存即生效")));
    file->addWidget(rowOf({test, nullptr}));

    QVBoxLayout* run = sectionLayout(addSection(column(), QStringLiteral("执行设置")));
    timeout_ = NumberField::integer(0, kInt64Max);
    run->addWidget(rowOf({new QLabel(QStringLiteral("最长执行时间")), timeout_, new QLabel(QStringLiteral("毫秒")), nullptr}));
    run->addWidget(hintLabel(QStringLiteral("ms（0 = 不限）")));
    run->addWidget(hintLabel(QStringLiteral("超时或点击停止时，脚本会在下一条 Lua 指令处被中断。")));

    QVBoxLayout* code = sectionLayout(addSection(column(), QStringLiteral("代码预览")));
    preview_ = codeView({});
    auto* reload = new QPushButton(QStringLiteral("刷新预览"));
    code->addWidget(preview_);
    code->addWidget(rowOf({reload, nullptr}));

    QVBoxLayout* apiBox = sectionLayout(addSection(column(), QStringLiteral("可用 API")));
    apiToggle_ = new QToolButton;
    apiToggle_->setText(QStringLiteral("展开查看 Lua 接口说明"));
    apiToggle_->setCheckable(true);
    apiToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    apiToggle_->setArrowType(Qt::RightArrow);
    apiToggle_->setAutoRaise(true);
    const std::string_view reference = luaApiReference();
    api_ = codeView(QString::fromUtf8(reference.data(), static_cast<int>(reference.size())));
    api_->setMinimumHeight(320);
    api_->hide();
    apiBox->addWidget(apiToggle_);
    apiBox->addWidget(api_);

    connect(path_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const std::string path = text.toStdString();
        edit("luaFile", [&path](Step& s) { s.luaFile = path; });
    });
    connect(choose, &QPushButton::clicked, this, [this] { host_.chooseLuaFile(stepID_); });
    connect(sample, &QPushButton::clicked, this, [this] { host_.createLuaSample(stepID_); });
    connect(open, &QPushButton::clicked, this, [this] { host_.openLuaFile(host_.readStep(stepID_).luaFile); });
    connect(reveal, &QPushButton::clicked, this, [this] { host_.revealLuaFile(host_.readStep(stepID_).luaFile); });
    connect(test, &QPushButton::clicked, this, [this] { host_.testLuaStep(stepID_); });
    connect(timeout_, &NumberField::integerEdited, this, [this](qint64 ms) { edit("timeoutMs", [ms](Step& s) { s.timeoutMs = ms; }); });
    connect(reload, &QPushButton::clicked, this, [this] {
        ++previewRevision_;
        refresh(host_.readStep(stepID_));
    });
    connect(apiToggle_, &QToolButton::toggled, this, [this](bool shown) {
        apiToggle_->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
        api_->setVisible(shown);
    });
}

void LuaEditor::refresh(const Step& step) {
    if (path_->text() != qs(step.luaFile)) path_->setText(qs(step.luaFile));
    info_->setText(qs(host_.luaFileInfo(step.luaFile)));
    timeout_->setInteger(step.timeoutMs);
    if (step.luaFile != shownPath_ || previewRevision_ != shownRevision_) {
        shownPath_ = step.luaFile;
        shownRevision_ = previewRevision_;
        const std::optional<std::string> text = host_.luaFilePreview(step.luaFile, kPreviewLines);
        preview_->setPlainText(text && !text->empty() ? qs(*text) : QStringLiteral("（文件不存在或为空）"));
    }
}

}  // namespace tapforge::ui
