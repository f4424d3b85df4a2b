// The step inspector: the right-hand pane's form for the selected step. "基本信息" (kind, enabled,
// note), then the editors of the step's kind. Every edit is written through the host's step
// binding; a refresh shows the step again without writing anything.
//
// Threads: main thread only.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QScrollArea>

#include "model/Uuid.h"
#include "ui/InspectorHost.h"

class QVBoxLayout;

namespace tapforge::ui {

class StepEditor;

class StepInspector : public QScrollArea {
    Q_OBJECT
public:
    explicit StepInspector(InspectorHost& host, QWidget* parent = nullptr);
    // The same, owning its host.
    explicit StepInspector(std::unique_ptr<InspectorHost> host, QWidget* parent = nullptr);

    // The selection changed: builds the form for that step (nothing: an empty pane).
    void setStepID(const std::optional<Uuid>& stepID);
    std::optional<Uuid> stepID() const { return stepID_; }
    // The document changed: shows the step's current values.
    void refresh();

    // The kind's editors, top to bottom (without "基本信息").
    const std::vector<StepEditor*>& kindEditors() const { return kindEditors_; }

private:
    void rebuild(const Step& step);

    std::unique_ptr<InspectorHost> ownedHost_;   // before host_: host_ may refer to it
    InspectorHost& host_;
    std::optional<Uuid> stepID_;
    std::optional<StepKind> builtKind_;
    QWidget* form_ = nullptr;
    std::vector<StepEditor*> editors_;   // "基本信息" first, then kindEditors_
    std::vector<StepEditor*> kindEditors_;
};

}  // namespace tapforge::ui
