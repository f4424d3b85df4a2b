// A number field that accepts only what a script file can store: integers within the field's
// range, or finite decimals (no NaN, no infinity). Any other text leaves the bound value alone
// and says why below the field. It reports only the user's edits, never a value set by code.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace tapforge::ui {

class NumberField : public QWidget {
    Q_OBJECT
public:
    static NumberField* integer(int64_t minimum, int64_t maximum, QWidget* parent = nullptr);
    static NumberField* decimal(QWidget* parent = nullptr);

    // Shows the value, unless the text already reads it (so "1.50" being typed stays as is).
    void setInteger(int64_t value);
    void setDecimal(double value);

    QLineEdit* lineEdit() const { return edit_; }
    // The reason the current text was refused; empty when it was accepted.
    QString problem() const;

    static std::optional<int64_t> parseInteger(std::string_view text, int64_t minimum, int64_t maximum);
    static std::optional<double> parseDecimal(std::string_view text);

signals:
    void integerEdited(qint64 value);
    void decimalEdited(double value);

private:
    NumberField(bool integer, int64_t minimum, int64_t maximum, QWidget* parent);
    void onTextEdited(const QString& text);
    void showProblem(const QString& problem);

    bool integer_;
    int64_t minimum_;
    int64_t maximum_;
    QLineEdit* edit_;
    QLabel* problem_;
};

}  // namespace tapforge::ui
