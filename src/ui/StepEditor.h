// Base of the per-kind step editors. An editor shows a step (refresh, with its controls'
// signals blocked, so showing never writes) and writes back only what the user changed, through
// the inspector host's step binding.
#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "model/Step.h"
#include "model/Uuid.h"
#include "ui/InspectorHost.h"

class QVBoxLayout;

namespace tapforge::ui {

class PointFields;

class StepEditor : public QWidget {
    Q_OBJECT
public:
    StepEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent = nullptr);
    virtual void refresh(const Step& step) = 0;

protected:
    // Reads the step afresh, applies `change` and writes the step back if that changed it.
    // `mergeKey` names a field being typed in or dragged (its consecutive writes are one undo
    // step); empty for a discrete action (a toggle, a choice, a button), each its own step.
    void edit(const std::string& mergeKey, const std::function<void(Step&)>& change);
    QVBoxLayout* column() const { return column_; }
    // The step's own point (hasPoint, x, y) with the controller's point picking.
    void bindStepPoint(PointFields* point);

    InspectorHost& host_;
    const Uuid stepID_;

private:
    QVBoxLayout* column_;
};

}  // namespace tapforge::ui
