#pragma once

#include <QComboBox>

// An editable drop-down list whose selected position is the value it stands
// for. Text in its field that matches an item exactly, ignoring letter case,
// selects that item; text that matches none leaves no item selected, so a
// handler never sends a value the operator did not pick.
class ListBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ListBox(QWidget* parent = nullptr);

    // Shows text in the field and selects the matching item, if any.
    void setShownText(const QString& text);

private:
    void selectMatching(const QString& text);

    bool m_syncing = false;
};
