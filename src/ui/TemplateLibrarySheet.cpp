#include "ui/TemplateLibrarySheet.h"

#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "app/AppState.h"
#include "ui/Icons.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

namespace {
constexpr int kPreviewWidth = 84;
constexpr int kPreviewHeight = 52;

// Truncated toward zero; a value no 64-bit integer holds (only a hand-edited file has one) is
// written as the double itself, so the row is still drawn.
QString wholeNumber(double v) {
    if (std::isfinite(v) && std::fabs(v) < 9.2e18) return QString::number(static_cast<long long>(v));
    return QString::number(v, 'g', 6);
}
}  // namespace

QString templateSizeText(double width, double height, double originX, double originY) {
    return QStringLiteral("尺寸 %1 × %2 · 截取位置 (%3, %4)")
        .arg(QString::asprintf("%.0f", width), QString::asprintf("%.0f", height), wholeNumber(originX),
             wholeNumber(originY));
}

TemplateLibrarySheet::TemplateLibrarySheet(app::AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setObjectName("TemplateLibrarySheet");
    setWindowTitle(QStringLiteral("图像模板库"));
    setWindowModality(Qt::WindowModal);
    resize(620, 460);
    auto* layout = new QVBoxLayout(this);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->addWidget(makeLabel(QStringLiteral("图像模板库"), 14, QFont::DemiBold));
    titles->addWidget(makeLabel(QStringLiteral("Lua 中用法：image.find(\"名称\", 0.9)"), 0, QFont::Normal,
                                LabelTone::secondary));
    header->addLayout(titles);
    header->addStretch();
    auto* done = new QPushButton(QStringLiteral("完成"));
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    layout->addLayout(header);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);

    auto* add = new QHBoxLayout;
    newName_ = new QLineEdit;
    newName_->setFixedWidth(200);
    newName_->setPlaceholderText(QStringLiteral("新模板名称"));
    newName_->setToolTip(QStringLiteral("例如：登录按钮"));
    add->addWidget(newName_);
    auto* capture = new QPushButton(icon("camera.viewfinder"), QStringLiteral("截图并添加"));
    capture->setObjectName("captureTemplate");
    connect(capture, &QPushButton::clicked, this, [this] {
        const std::string name = newName_->text().toStdString();
        newName_->clear();
        state_.addTemplate(name);
    });
    add->addWidget(capture);
    add->addStretch();
    layout->addLayout(add);

    stack_ = new QStackedWidget;
    stack_->addWidget(makeEmptyState("photo.on.rectangle.angled", 28, QStringLiteral("模板库还是空的"),
                                     QStringLiteral("输入名称后点「截图并添加」，在屏幕上框选要比对的图片")));
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto* holder = new QWidget;
    rowsLayout_ = new QVBoxLayout(holder);
    rowsLayout_->addStretch();
    scroll->setWidget(holder);
    stack_->addWidget(scroll);
    layout->addWidget(stack_, 1);

    connect(&state_, &app::AppState::scriptChanged, this, &TemplateLibrarySheet::update);
    update();
}

void TemplateLibrarySheet::update() {
    const size_t count = state_.script().templates.size();
    while (rows_.size() > count) {
        delete rows_.back();
        rows_.pop_back();
    }
    while (rows_.size() < count) {
        rows_.push_back(new TemplateRow(state_, rows_.size()));
        rowsLayout_->insertWidget(rowsLayout_->count() - 1, rows_.back());
    }
    for (auto* row : rows_) row->update();
    stack_->setCurrentIndex(count == 0 ? 0 : 1);
}

TemplateRow::TemplateRow(app::AppState& state, size_t index, QWidget* parent)
    : QWidget(parent), state_(state), index_(index) {
    auto* layout = new QHBoxLayout(this);
    preview_ = new QLabel;
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setStyleSheet(QStringLiteral("border: 1px solid palette(mid); border-radius: 6px;"));
    layout->addWidget(preview_);

    auto* column = new QVBoxLayout;
    name_ = new QLineEdit;
    name_->setPlaceholderText(QStringLiteral("名称"));
    // Each keystroke is written through the row's binding; one field's typing is one undo step.
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const ImageTemplate expected = state_.templateAt(index_);
        ImageTemplate value = expected;
        value.name = text.toStdString();
        state_.writeTemplate(index_, expected, value, "template-name-" + std::to_string(index_));
    });
    column->addWidget(name_);
    size_ = makeLabel({}, 0, QFont::Normal, LabelTone::secondary);
    column->addWidget(size_);
    layout->addLayout(column);
    layout->addStretch();

    recapture_ = makeToolButton("arrow.clockwise", {}, QStringLiteral("重新截图"));
    connect(recapture_, &QToolButton::clicked, this,
            [this] { state_.recaptureTemplate(index_, state_.templateAt(index_)); });
    test_ = makeToolButton("checkmark.circle", {}, QStringLiteral("在当前屏幕上测试一次"));
    connect(test_, &QToolButton::clicked, this, [this] { state_.testMatch(state_.templateAt(index_)); });
    delete_ = makeToolButton("trash", {}, QStringLiteral("删除模板"));
    connect(delete_, &QToolButton::clicked, this, [this] { state_.deleteTemplate(index_, state_.templateAt(index_)); });
    for (auto* b : {recapture_, test_, delete_}) layout->addWidget(b);
}

void TemplateRow::update() {
    const ImageTemplate t = state_.templateAt(index_);
    const QString name = QString::fromStdString(t.name);
    if (name_->text() != name) name_->setText(name);
    size_->setText(templateSizeText(t.widthPoints, t.heightPoints, t.originX, t.originY));
    if (t.pngBase64 == shownImage_ && preview_->pixmap().cacheKey() != 0) return;
    shownImage_ = t.pngBase64;
    QImage image;
    image.loadFromData(QByteArray::fromBase64(QByteArray::fromStdString(t.pngBase64)), "PNG");
    QPixmap pixmap(kPreviewWidth - 4, kPreviewHeight - 4);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    if (image.isNull()) {
        p.setOpacity(0.35);
        icon("photo.on.rectangle.angled").paint(&p, pixmap.rect().adjusted(20, 8, -20, -8));
    } else {
        const QImage scaled = image.scaled(pixmap.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawImage((pixmap.width() - scaled.width()) / 2, (pixmap.height() - scaled.height()) / 2, scaled);
    }
    p.end();
    preview_->setPixmap(pixmap);
}

}  // namespace tapforge::ui
