#include "ui/CommentEditor.h"

#include <QPlainTextEdit>

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

CommentEditor::CommentEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("注释")));
    text_ = multiLineEditor();
    box->addWidget(text_);
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        const std::string text = text_->toPlainText().toStdString();
        edit("note", [&text](Step& s) { s.note = text; });
    });
}

void CommentEditor::refresh(const Step& step) {
    showPlainText(text_, step.note);
}

}  // namespace tapforge::ui
