#include "ui/LogPanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/Widgets.h"

namespace tapforge::ui {

LogPanel::LogPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("LogPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(2);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(makeLabel("运行日志", 11, QFont::Medium));
    count_ = makeLabel("0", 11, QFont::Normal);
    count_->setObjectName("logCount");
    header->addWidget(count_);
    header->addWidget(makeLabel(QStringLiteral("仅保留最近 %1 条").arg(app::AppState::kMaxLogLines), 11, QFont::Normal,
                                LabelTone::secondary));
    header->addStretch();
    layout->addLayout(header);

    text_ = new QPlainTextEdit;
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setMaximumBlockCount(app::AppState::kMaxLogLines);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() * 11 / 13.0);
    text_->setFont(mono);
    text_->document()->setDocumentMargin(6);
    text_->setMinimumHeight(90);
    text_->setMaximumHeight(140);
    layout->addWidget(text_);
}

void LogPanel::sync(const std::deque<app::LogLine>& logs) {
    count_->setText(QString::number(logs.size()));
    size_t fresh = 0;   // lines not shown yet, at the end
    while (fresh < logs.size() && logs[logs.size() - 1 - fresh].id > lastShown_) ++fresh;
    // Cleared (or everything replaced): none of the shown lines is kept.
    if (logs.empty() || fresh == logs.size()) text_->clear();
    for (size_t i = logs.size() - fresh; i < logs.size(); ++i)
        text_->appendPlainText(QString::fromStdString(logs[i].text));
    lastShown_ = logs.empty() ? lastShown_ : logs.back().id;
    auto* bar = text_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

}  // namespace tapforge::ui
