#pragma once

#include <QSpinBox>

// A spin box in which a typed number beyond a limit becomes that limit, instead of the
// key being refused: typing 5 into a box limited to 0..2 leaves 2, as users of the
// window expect from its spin boxes.
class LimitSpinBox : public QSpinBox {
    Q_OBJECT
public:
    LimitSpinBox(int minimum, int maximum, int value, QWidget* parent);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
};
