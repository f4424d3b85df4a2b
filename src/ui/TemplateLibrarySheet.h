// The image template library sheet: the add row ("截图并添加"), the empty state, and one row per
// library template with its preview, editable name, size and origin, and the re-capture, test
// and delete buttons acting on that row. Rows are kept and refreshed in place, so typing in a
// name field keeps its focus while each keystroke reaches the document. Main thread only.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;
class QStackedWidget;
class QVBoxLayout;

namespace tapforge::app {
class AppState;
}

namespace tapforge::ui {

class TemplateRow;

class TemplateLibrarySheet : public QDialog {
    Q_OBJECT
public:
    TemplateLibrarySheet(app::AppState& state, QWidget* parent);

    // Follows the script's template library.
    void update();

    QLineEdit* nameField() const { return newName_; }
    int rowCount() const { return int(rows_.size()); }
    TemplateRow* row(int index) const { return rows_[size_t(index)]; }

private:
    app::AppState& state_;
    QLineEdit* newName_;
    QStackedWidget* stack_;
    QVBoxLayout* rowsLayout_;
    std::vector<TemplateRow*> rows_;
};

class TemplateRow : public QWidget {
    Q_OBJECT
public:
    TemplateRow(app::AppState& state, size_t index, QWidget* parent = nullptr);
    void update();

    QLineEdit* nameEdit() const { return name_; }
    QToolButton* recaptureButton() const { return recapture_; }
    QToolButton* testButton() const { return test_; }
    QToolButton* deleteButton() const { return delete_; }
    QLabel* sizeLabel() const { return size_; }

private:
    app::AppState& state_;
    size_t index_;
    QLabel* preview_;
    QLineEdit* name_;
    QLabel* size_;
    QToolButton* recapture_;
    QToolButton* test_;
    QToolButton* delete_;
    std::string shownImage_;
};

// "尺寸 W × H · 截取位置 (X, Y)" of a template row.
QString templateSizeText(double width, double height, double originX, double originY);

}  // namespace tapforge::ui
