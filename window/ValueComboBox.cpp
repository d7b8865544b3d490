#include "window/ValueComboBox.h"

#include <QLineEdit>
#include <QWheelEvent>

ValueComboBox::ValueComboBox(QWidget* parent) : QComboBox(parent)
{
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(16);
    // A click or Tab gives the focus; the wheel alone does not.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QComboBox::editTextChanged, this, &ValueComboBox::selectMatching);
}

void ValueComboBox::setItems(QAbstractItemModel* items)
{
    // Editable only once the items are in place: the drop-down's list is
    // then made for them once, instead of made for the empty list of a
    // new combo box and rebuilt when the items come.
    setModel(items);
    if (!isEditable()) {
        setEditable(true);
        setCompleter(nullptr);
    }
}

void ValueComboBox::wheelEvent(QWheelEvent* event)
{
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}

void ValueComboBox::setShownText(const QString& text)
{
    setEditText(text);
    selectMatching(text);
}

void ValueComboBox::selectMatching(const QString& text)
{
    if (m_syncing)
        return;
    const int match = findText(text, Qt::MatchFixedString);
    if (match == currentIndex())
        return;
    // Selecting an item rewrites the field; the operator's own text and
    // cursor stay as typed.
    m_syncing = true;
    QLineEdit* field = lineEdit();
    const int cursor = field->cursorPosition();
    setCurrentIndex(match);
    field->setText(text);
    field->setCursorPosition(cursor);
    m_syncing = false;
}
