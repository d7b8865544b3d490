#pragma once

#include <QComboBox>

// An editable drop-down list whose selected position is the value it stands
// for. Text in its field that matches an item exactly, ignoring letter case,
// selects that item; text that matches none leaves no item selected, so a
// handler never sends a value the operator did not pick.
class ValueComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ValueComboBox(QWidget* parent = nullptr);

    // Takes its items from a model that other lists may share, each list
    // keeping its own selection and typed text, and opens its field for
    // typing. Until then the list is neither filled nor editable.
    void setItems(QAbstractItemModel* items);

    // Shows text in the field and selects the matching item, if any.
    void setShownText(const QString& text);

protected:
    // The wheel turns a list only while it has the keyboard focus; otherwise
    // it scrolls past, so that a byte never changes unseen under the pointer.
    void wheelEvent(QWheelEvent* event) override;

private:
    void selectMatching(const QString& text);

    bool m_syncing = false;
};
