// "输入文本": the text a type-text step types.
#pragma once

#include "ui/StepEditor.h"

class QPlainTextEdit;

namespace tapforge::ui {

class TypeTextEditor : public StepEditor {
    Q_OBJECT
public:
    TypeTextEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

private:
    QPlainTextEdit* text_;
};

}  // namespace tapforge::ui
