// "图像识别" (capture, library menu, test, the template's scaled preview, name, size and origin,
// the outcome of the last test or run) and "比对设置" (threshold, full-screen search or margin,
// click on match).
#pragma once

#include <string>

#include <QImage>

#include "ui/StepEditor.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;

namespace tapforge::ui {

class CheckResultView;
class NumberField;

class ImageCheckEditor : public StepEditor {
    Q_OBJECT
public:
    ImageCheckEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    void refresh(const Step& step) override;

    // The preview's scale for a template image of that many pixels: fitted into the pane but
    // never within 0.7..1.4, so a running search cannot mistake the preview for its target.
    static double previewScale(int width, int height);

private:
    void fillLibraryMenu();

    QMenu* library_;
    QWidget* templateBox_;
    QLabel* preview_;
    QLineEdit* name_;
    QLabel* size_;
    QLabel* origin_;
    CheckResultView* result_;
    QLabel* thresholdValue_;
    QSlider* threshold_;
    QCheckBox* fullScreen_;
    QWidget* marginRow_;
    NumberField* margin_;
    QCheckBox* clickOnMatch_;
    std::string previewSource_;   // the Base64 text the preview shows
};

}  // namespace tapforge::ui
