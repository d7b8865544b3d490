#pragma once

#include <QPushButton>

// A push button whose caption breaks between words when one line is too
// wide for it, as the panel's taller "Send Decimal Points" button expects.
// It adds no signals or slots: to everything else it is a QPushButton.
class WrapButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};
