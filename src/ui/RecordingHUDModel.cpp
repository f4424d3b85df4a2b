#include "ui/RecordingHUDModel.h"

namespace tapforge::ui {

namespace {
template <typename T>
void assign(RecordingHUDModel& model, T& field, const T& value) {
    if (field == value) return;
    field = value;
    emit model.changed();
}
}  // namespace

void RecordingHUDModel::setStepCount(int count) { assign(*this, stepCount_, count); }
void RecordingHUDModel::setElapsedText(const QString& text) { assign(*this, elapsedText_, text); }
void RecordingHUDModel::setRecordsMouseMove(bool records) { assign(*this, recordsMouseMove_, records); }
void RecordingHUDModel::setStopShortcut(const QString& shortcut) { assign(*this, stopShortcut_, shortcut); }

QString RecordingHUDModel::formatElapsed(int64_t seconds) {
    return QString::asprintf("%02lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

}  // namespace tapforge::ui
