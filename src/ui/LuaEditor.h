// The Lua step's file (path, choose, new sample, edit, reveal, information line, test run), its
// time limit, a preview of the file's first 40 lines and the macro API reference.
#pragma once

#include <string>

#include "ui/StepEditor.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace tapforge::ui {

class NumberField;

class LuaEditor : public StepEditor {
    Q_OBJECT
public:
    LuaEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

    static constexpr int kPreviewLines = 40;

private:
    QLineEdit* path_;
    QLabel* info_;
    NumberField* timeout_;
    QPlainTextEdit* preview_;
    QToolButton* apiToggle_;
    QPlainTextEdit* api_;
    int previewRevision_ = 0;
    int shownRevision_ = -1;
    std::string shownPath_;
};

}  // namespace tapforge::ui
