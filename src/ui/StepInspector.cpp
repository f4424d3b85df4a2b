#include "ui/StepInspector.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include "ui/BranchEditor.h"
#include "ui/ColorCheckEditor.h"
#include "ui/CommentEditor.h"
#include "ui/ConditionEditor.h"
#include "ui/DelayEditor.h"
#include "ui/GotoEditor.h"
#include "ui/ImageCheckEditor.h"
#include "ui/InspectorLayout.h"
#include "ui/KeyPressEditor.h"
#include "ui/LuaEditor.h"
#include "ui/MouseClickEditor.h"
#include "ui/MouseMoveEditor.h"
#include "ui/ScrollEditor.h"
#include "ui/TypeTextEditor.h"

namespace tapforge::ui {

namespace {

// "基本信息": the kind (read only), enabled, note.
class BasicInfoEditor : public StepEditor {
public:
    BasicInfoEditor(InspectorHost& host, const Uuid& stepID) : StepEditor(host, stepID) {
        QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("基本信息")));
        kind_ = new QLabel;
        enabled_ = new QCheckBox(QStringLiteral("启用该步骤"));
        note_ = new QLineEdit;
        note_->setPlaceholderText(QStringLiteral("可选说明"));
        box->addWidget(rowOf({new QLabel(QStringLiteral("步骤类型")), nullptr, kind_}));
        box->addWidget(enabled_);
        box->addWidget(rowOf({new QLabel(QStringLiteral("备注")), note_}));
        connect(enabled_, &QCheckBox::clicked, this, [this](bool on) { edit({}, [on](Step& s) { s.enabled = on; }); });
        connect(note_, &QLineEdit::textEdited, this, [this](const QString& text) {
            const std::string note = text.toStdString();
            edit("note", [&note](Step& s) { s.note = note; });
        });
    }

    void refresh(const Step& step) override {
        kind_->setText(qs(step.title()));
        const QSignalBlocker blocker(enabled_);
        enabled_->setChecked(step.enabled);
        if (note_->text() != qs(step.note)) note_->setText(qs(step.note));
    }

private:
    QLabel* kind_;
    QCheckBox* enabled_;
    QLineEdit* note_;
};

std::vector<StepEditor*> editorsFor(StepKind kind, InspectorHost& host, const Uuid& id) {
    using Region = BranchRow::RegionClick;
    switch (kind) {
    case StepKind::delay: return {new DelayEditor(host, id)};
    case StepKind::mouseClick: return {new MouseClickEditor(host, id)};
    case StepKind::mouseMove: return {new MouseMoveEditor(host, id)};
    case StepKind::mouseScroll: return {new ScrollEditor(host, id)};
    case StepKind::keyPress: return {new KeyPressEditor(host, id)};
    case StepKind::typeText: return {new TypeTextEditor(host, id)};
    case StepKind::colorCheck:
        return {new ColorCheckEditor(host, id), new ConditionEditor(host, id), new BranchEditor(host, id, Region::notAllowed)};
    case StepKind::imageCheck:
        return {new ImageCheckEditor(host, id), new ConditionEditor(host, id), new BranchEditor(host, id, Region::allowed)};
    case StepKind::lua: return {new LuaEditor(host, id), new BranchEditor(host, id, Region::notAllowed)};
    case StepKind::goTo: return {new GotoEditor(host, id)};
    case StepKind::comment: return {new CommentEditor(host, id)};
    }
    return {};
}

}  // namespace

StepInspector::StepInspector(std::unique_ptr<InspectorHost> host, QWidget* parent)
    : StepInspector(*host, parent) {
    ownedHost_ = std::move(host);
}

StepInspector::StepInspector(InspectorHost& host, QWidget* parent) : QScrollArea(parent), host_(host) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void StepInspector::setStepID(const std::optional<Uuid>& stepID) {
    if (stepID != stepID_) builtKind_.reset();
    stepID_ = stepID;
    refresh();
}

void StepInspector::refresh() {
    std::optional<Step> step;
    if (stepID_) {
        Step read = host_.readStep(*stepID_);
        if (read.id == *stepID_) step = std::move(read);
    }
    if (!step) {
        // Deleted while shown, or nothing selected: no form, so no edit can reach a placeholder.
        if (form_) {
            takeWidget();
            form_->deleteLater();
            form_ = nullptr;
        }
        editors_.clear();
        kindEditors_.clear();
        builtKind_.reset();
        return;
    }
    if (builtKind_ != step->kind) rebuild(*step);
    for (StepEditor* editor : editors_) editor->refresh(*step);
}

void StepInspector::rebuild(const Step& step) {
    if (form_) {
        // deleteLater: the edit that led here may still be running inside the old form.
        takeWidget();
        form_->deleteLater();
    }
    form_ = new QWidget;
    auto* layout = new QVBoxLayout(form_);
    editors_ = {new BasicInfoEditor(host_, step.id)};
    kindEditors_ = editorsFor(step.kind, host_, step.id);
    editors_.insert(editors_.end(), kindEditors_.begin(), kindEditors_.end());
    for (StepEditor* editor : editors_) layout->addWidget(editor);
    layout->addStretch(1);
    setWidget(form_);
    builtKind_ = step.kind;
}

}  // namespace tapforge::ui
