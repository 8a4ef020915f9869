#include "ui/SearchField.h"
#include <QKeyEvent>

SearchField::SearchField(QWidget *parent) : QLineEdit(parent)
{
    setPlaceholderText(tr("Search for music"));
    setClearButtonEnabled(true);
    setObjectName(QStringLiteral("searchField"));
}

QString SearchField::commandForKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QStringLiteral("insertNewline:");
    case Qt::Key_Escape:
        return QStringLiteral("cancelOperation:");
    case Qt::Key_Left:
        return QStringLiteral("moveLeft:");
    case Qt::Key_Right:
        return QStringLiteral("moveRight:");
    case Qt::Key_Up:
        return QStringLiteral("moveUp:");
    case Qt::Key_Down:
        return QStringLiteral("moveDown:");
    case Qt::Key_Home:
        return QStringLiteral("moveToBeginningOfLine:");
    case Qt::Key_End:
        return QStringLiteral("moveToEndOfLine:");
    case Qt::Key_Backspace:
        return QStringLiteral("deleteBackward:");
    case Qt::Key_Delete:
        return QStringLiteral("deleteForward:");
    case Qt::Key_Tab:
        return QStringLiteral("insertTab:");
    default:
        return {};
    }
}

void SearchField::keyPressEvent(QKeyEvent *event)
{
    const QString command = commandForKey(event);
    if (!command.isEmpty() && m_delegate && m_delegate->controlTextViewDoCommandBySelector(this, command))
        return;
    QLineEdit::keyPressEvent(event);
}
