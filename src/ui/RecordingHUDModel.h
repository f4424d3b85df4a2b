// What the recording panel shows: the step count, the elapsed time, whether mouse movement is
// recorded and the stop shortcut. `changed` fires after any of them changed. Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace tapforge::ui {

class RecordingHUDModel : public QObject {
    Q_OBJECT
public:
    int stepCount() const { return stepCount_; }
    const QString& elapsedText() const { return elapsedText_; }
    bool recordsMouseMove() const { return recordsMouseMove_; }
    const QString& stopShortcut() const { return stopShortcut_; }

    void setStepCount(int count);
    void setElapsedText(const QString& text);
    void setRecordsMouseMove(bool records);
    void setStopShortcut(const QString& shortcut);

    // "MM:SS" of whole seconds; minutes are not capped (100 minutes show as "100:00").
    static QString formatElapsed(int64_t seconds);

signals:
    void changed();

private:
    int stepCount_ = 0;
    QString elapsedText_ = QStringLiteral("00:00");
    bool recordsMouseMove_ = false;
    QString stopShortcut_ = QStringLiteral("F9");
};

}  // namespace tapforge::ui
