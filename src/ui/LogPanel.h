// The run log under the step list: header with the line count, then the lines in a monospaced
// font, following the newest one. It mirrors the controller's log by line id, appending only
// new lines (the controller keeps the newest 100; so does the panel). Main thread only.
#pragma once

#include <QWidget>

#include <cstdint>
#include <deque>

#include "app/AppState.h"

class QLabel;
class QPlainTextEdit;

namespace tapforge::ui {

class LogPanel : public QWidget {
    Q_OBJECT
public:
    explicit LogPanel(QWidget* parent = nullptr);

    void sync(const std::deque<app::LogLine>& logs);

    QPlainTextEdit* text() const { return text_; }

private:
    QLabel* count_;
    QPlainTextEdit* text_;
    uint64_t lastShown_ = 0;
};

}  // namespace tapforge::ui
