#include "ui/NumberField.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tapforge::ui {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

QString decimalText(double value) {
    // Shortest text that reads back as the same double.
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc{} ? QString::fromLatin1(buffer, static_cast<int>(end - buffer)) : QString();
}

}  // namespace

NumberField* NumberField::integer(int64_t minimum, int64_t maximum, QWidget* parent) {
    return new NumberField(true, minimum, maximum, parent);
}

NumberField* NumberField::decimal(QWidget* parent) {
    return new NumberField(false, 0, 0, parent);
}

NumberField::NumberField(bool integer, int64_t minimum, int64_t maximum, QWidget* parent)
    : QWidget(parent), integer_(integer), minimum_(minimum), maximum_(maximum) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    edit_ = new QLineEdit(this);
    edit_->setMinimumWidth(90);
    problem_ = new QLabel(this);
    problem_->setStyleSheet(QStringLiteral("color: #C0392B;"));
    problem_->setWordWrap(true);
    problem_->hide();
    layout->addWidget(edit_);
    layout->addWidget(problem_);
    // textEdited comes from the user only; code that sets the text never writes to the step.
    connect(edit_, &QLineEdit::textEdited, this, &NumberField::onTextEdited);
}

std::optional<int64_t> NumberField::parseInteger(std::string_view text, int64_t minimum, int64_t maximum) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

std::optional<double> NumberField::parseDecimal(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value == 0 ? 0.0 : value;   // no "-0" in the file
}

void NumberField::setInteger(int64_t value) {
    const std::string current = edit_->text().toStdString();
    if (parseInteger(current, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()) == value)
        return;
    edit_->setText(QString::number(value));
    showProblem({});
}

void NumberField::setDecimal(double value) {
    const std::string current = edit_->text().toStdString();
    if (const auto shown = parseDecimal(current); shown && *shown == value) return;
    edit_->setText(decimalText(value));
    showProblem({});
}

QString NumberField::problem() const {
    return problem_->isHidden() ? QString() : problem_->text();
}

void NumberField::onTextEdited(const QString& text) {
    const std::string utf8 = text.toStdString();
    if (integer_) {
        if (const auto value = parseInteger(utf8, minimum_, maximum_)) {
            showProblem({});
            emit integerEdited(*value);
        } else {
            showProblem(QStringLiteral("请输入 %1 到 %2 之间的整数，未保存").arg(minimum_).arg(maximum_));
        }
        return;
    }
    if (const auto value = parseDecimal(utf8)) {
        showProblem({});
        emit decimalEdited(*value);
    } else {
        showProblem(QStringLiteral("请输入有限的数字，未保存"));
    }
}

void NumberField::showProblem(const QString& problem) {
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
}

}  // namespace tapforge::ui
