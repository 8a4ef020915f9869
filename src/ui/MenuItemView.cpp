#include "ui/MenuItemView.h"
#include "ui/SearchField.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPaintEvent>

MenuItemView::MenuItemView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
}

MenuItemView *MenuItemView::withTitle(const QString &title, QWidget *parent)
{
    auto *row = new MenuItemView(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(18, 3, 12, 3);
    auto *label = new QLabel(title, row);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(label);
    row->applyTitleColour();
    return row;
}

MenuItemView *MenuItemView::withSearchField(SearchField *field, QWidget *parent)
{
    auto *row = new MenuItemView(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 6, 10, 6);
    field->setParent(row);
    layout->addWidget(field);
    return row;
}

void MenuItemView::setHighlighted(bool on)
{
    if (on == m_highlighted)
        return;
    m_highlighted = on;
    applyTitleColour();
}

void MenuItemView::setEnabledForAction(bool enabled)
{
    m_enabled = enabled;
    applyTitleColour();
}

void MenuItemView::applyTitleColour()
{
    // The search field's colours are its own.
    if (findChild<SearchField *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    const QPalette &pal = palette();
    const QColor colour = !m_enabled ? pal.color(QPalette::Disabled, QPalette::WindowText)
        : m_highlighted              ? pal.color(QPalette::HighlightedText)
                                     : pal.color(QPalette::WindowText);
    for (QLabel *label : findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly)) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, colour);
        label->setPalette(p);
    }
}

void MenuItemView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyTitleColour();
    QWidget::changeEvent(event);
}

void MenuItemView::paintEvent(QPaintEvent *event)
{
    if (!m_selectable || !m_highlighted)
        return; // the panel's white shows through
    QPainter p(this);
    const QRect r = event->rect();
    p.fillRect(QRectF(r.x() + 1.0, r.y(), r.width() - 2.0, r.height()), palette().color(QPalette::Highlight));
}
