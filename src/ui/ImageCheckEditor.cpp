#include "ui/ImageCheckEditor.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include "model/TextFormat.h"
#include "ui/CheckResultView.h"
#include "ui/Icons.h"
#include "ui/InspectorLayout.h"
#include "ui/NumberField.h"

namespace tapforge::ui {

namespace {

QString pointSize(double width, double height) {
    return QString::asprintf("%.0f × %.0f", width, height);
}

constexpr double kPreviewWidth = 240;
constexpr double kPreviewHeight = 140;

}  // namespace

double ImageCheckEditor::previewScale(int width, int height) {
    if (width < 1 || height < 1) return 1;
    const double fit = std::min({2.0, kPreviewWidth / width, kPreviewHeight / height});
    return fit >= 1.4 ? fit : std::min(fit, 0.7);
}

ImageCheckEditor::ImageCheckEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* image = sectionLayout(addSection(column(), QStringLiteral("图像识别")));
    auto* capture = new QPushButton(icon("camera.viewfinder"), QStringLiteral("截图选择区域"));
    auto* fromLibrary = new QToolButton;
    fromLibrary->setText(QStringLiteral("从模板库选择"));
    fromLibrary->setIcon(QIcon::fromTheme(QStringLiteral("view-grid")));
    fromLibrary->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    fromLibrary->setPopupMode(QToolButton::InstantPopup);
    library_ = new QMenu(fromLibrary);
    fromLibrary->setMenu(library_);
    auto* test = new QPushButton(QStringLiteral("测试一次"));
    image->addWidget(rowOf({capture, fromLibrary, test, nullptr}));

    templateBox_ = new QWidget;
    auto* details = new QVBoxLayout(templateBox_);
    details->setContentsMargins(0, 0, 0, 0);
    preview_ = new QLabel;
    name_ = new QLineEdit;
    size_ = new QLabel;
    origin_ = new QLabel;
    details->addWidget(preview_);
    details->addWidget(rowOf({new QLabel(QStringLiteral("名称")), name_}));
    details->addWidget(size_);
    details->addWidget(origin_);
    image->addWidget(templateBox_);
    result_ = new CheckResultView;
    image->addWidget(result_);

    QVBoxLayout* settings = sectionLayout(addSection(column(), QStringLiteral("比对设置")));
    thresholdValue_ = new QLabel;
    threshold_ = new QSlider(Qt::Horizontal);
    threshold_->setRange(50, 100);   // 0.50 … 1.00 in steps of 0.01
    fullScreen_ = new QCheckBox(QStringLiteral("全屏搜索（可在任意位置找到图片）"));
    margin_ = NumberField::decimal();
    marginRow_ = rowOf({new QLabel(QStringLiteral("在原位置附近的搜索边距")), margin_, new QLabel(QStringLiteral("像素")), nullptr});
    clickOnMatch_ = new QCheckBox(QStringLiteral("匹配成功后点击图片所在位置"));
    settings->addWidget(rowOf({new QLabel(QStringLiteral("相似度阈值")), nullptr, thresholdValue_}));
    settings->addWidget(threshold_);
    settings->addWidget(fullScreen_);
    settings->addWidget(marginRow_);
    settings->addWidget(clickOnMatch_);

    connect(capture, &QPushButton::clicked, this, [this] { host_.captureTemplate(stepID_); });
    connect(library_, &QMenu::aboutToShow, this, &ImageCheckEditor::fillLibraryMenu);
    connect(test, &QPushButton::clicked, this, [this] { host_.testStep(stepID_); });
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const std::string name = text.toStdString();
        edit("template.name", [&name](Step& s) {
            if (s.imageTemplate) s.imageTemplate->name = name;
        });
    });
    // valueChanged also follows the keyboard and clicks on the groove; refresh blocks it.
    connect(threshold_, &QSlider::valueChanged, this, [this](int percent) {
        edit("threshold", [percent](Step& s) { s.threshold = percent / 100.0; });
    });
    connect(fullScreen_, &QCheckBox::clicked, this, [this](bool on) {
        edit({}, [on](Step& s) { s.searchFullScreen = on; });
    });
    connect(margin_, &NumberField::decimalEdited, this, [this](double points) {
        edit("searchMargin", [points](Step& s) { s.searchMargin = points; });
    });
    connect(clickOnMatch_, &QCheckBox::clicked, this, [this](bool on) {
        edit({}, [on](Step& s) { s.clickOnMatch = on; });
    });
}

void ImageCheckEditor::fillLibraryMenu() {
    library_->clear();
    const std::vector<ImageTemplate>& templates = host_.script().templates;
    if (templates.empty()) library_->addAction(QStringLiteral("（模板库为空）"))->setEnabled(false);
    for (size_t i = 0; i < templates.size(); ++i) {
        const ImageTemplate& t = templates[i];
        library_->addAction(qs(t.name) + QStringLiteral("（") + pointSize(t.widthPoints, t.heightPoints) + QStringLiteral("）"),
                            this, [this, copy = t] { edit({}, [&copy](Step& s) { s.imageTemplate = copy; }); });
    }
}

void ImageCheckEditor::refresh(const Step& step) {
    const std::optional<ImageTemplate>& t = step.imageTemplate;
    templateBox_->setVisible(t.has_value());
    if (t) {
        if (t->pngBase64 != previewSource_) {
            previewSource_ = t->pngBase64;
            QImage decoded = QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(t->pngBase64)), "PNG");
            if (decoded.isNull()) {
                preview_->setText(QStringLiteral("（无法显示图片）"));
            } else {
                const double scale = previewScale(decoded.width(), decoded.height());
                preview_->setPixmap(QPixmap::fromImage(decoded.scaled(
                    std::max(1, static_cast<int>(std::lround(decoded.width() * scale))),
                    std::max(1, static_cast<int>(std::lround(decoded.height() * scale))), Qt::IgnoreAspectRatio,
                    Qt::SmoothTransformation)));
            }
        }
        if (name_->text() != qs(t->name)) name_->setText(qs(t->name));
        size_->setText(QStringLiteral("尺寸 ") + pointSize(t->widthPoints, t->heightPoints));
        origin_->setText(QString::asprintf("截取位置 (%.0f, %.0f)", t->originX, t->originY));
    }
    // The label shows the stored value even where the slider cannot (below 0.5).
    thresholdValue_->setText(qs(detail::truncatedInteger(step.threshold * 100)) + QStringLiteral("%"));
    {
        const QSignalBlocker blocker(threshold_);
        const double shown = std::isfinite(step.threshold) ? std::clamp(step.threshold, 0.5, 1.0) : 0.5;
        threshold_->setValue(static_cast<int>(std::lround(shown * 100)));
    }
    const QSignalBlocker fullBlocker(fullScreen_);
    fullScreen_->setChecked(step.searchFullScreen);
    marginRow_->setVisible(!step.searchFullScreen);
    margin_->setDecimal(step.searchMargin);
    const QSignalBlocker clickBlocker(clickOnMatch_);
    clickOnMatch_->setChecked(step.clickOnMatch);
    result_->setOutcome(host_.lastCheckOutcome(stepID_));
}

}  // namespace tapforge::ui
