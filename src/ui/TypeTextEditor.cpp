#include "ui/TypeTextEditor.h"

#include <QPlainTextEdit>

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

TypeTextEditor::TypeTextEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("输入文本")));
    text_ = multiLineEditor();
    box->addWidget(text_);
    box->addWidget(hintLabel(QStringLiteral("逐字符输入：在 X11 上按当前键盘布局输入，不受大小写锁定和数字锁定影响，中文等没有对应按键的字符也会输入；在模拟桌面上试运行时按美式键盘布局输入，非 ASCII 字符会被跳过。")));
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        const std::string text = text_->toPlainText().toStdString();
        edit("text", [&text](Step& s) { s.text = text; });
    });
}

void TypeTextEditor::refresh(const Step& step) {
    showPlainText(text_, step.text);
}

}  // namespace tapforge::ui
