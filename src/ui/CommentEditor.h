// "注释": the comment text (the step's note).
#pragma once

#include "ui/StepEditor.h"

class QPlainTextEdit;

namespace tapforge::ui {

class CommentEditor : public StepEditor {
    Q_OBJECT
public:
    CommentEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    QPlainTextEdit* text_;
};

}  // namespace tapforge::ui
