#include "window/frmMain.h"

#include "ui_frmMain.h"

#include <QRadioButton>

void frmMain::setUpKeyboard()
{
    // Tab stops once in each option set, on its chosen option, as the
    // operator knows it; arrow keys move the choice inside the set. Left
    // alone, a set would stop at each option until one of them took focus.
    for (QRadioButton* option : findChildren<QRadioButton*>()) {
        const auto follow = [option](bool chosen) {
            option->setFocusPolicy(chosen ? Qt::StrongFocus : Qt::ClickFocus);
        };
        follow(option->isChecked());
        connect(option, &QRadioButton::toggled, this, follow);
    }

    // The text field is first in the tab order and holds the focus when the
    // window comes up.
    ui->txtdata->setFocus();
}
