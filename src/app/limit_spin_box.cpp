#include "app/limit_spin_box.h"

LimitSpinBox::LimitSpinBox(int minimum, int maximum, int value, QWidget* parent) : QSpinBox(parent) {
    setRange(minimum, maximum);
    setValue(value);
}

QValidator::State LimitSpinBox::validate(QString& input, int& pos) const {
    bool number = false;
    const qlonglong typed = input.trimmed().toLongLong(&number);
    if (number && typed > maximum()) {
        input = QString::number(maximum());
        pos = static_cast<int>(input.size());
        return QValidator::Acceptable;
    }
    return QSpinBox::validate(input, pos);
}
