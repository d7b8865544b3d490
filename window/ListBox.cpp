#include "window/ListBox.h"

#include <QLineEdit>

ListBox::ListBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setMaxVisibleItems(16);
    connect(this, &QComboBox::editTextChanged, this, &ListBox::selectMatching);
}

void ListBox::setShownText(const QString& text)
{
    setEditText(text);
    selectMatching(text);
}

void ListBox::selectMatching(const QString& text)
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
