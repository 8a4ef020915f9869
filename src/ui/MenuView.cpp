#include "ui/MenuView.h"
#include "base/Log.h"
#include "ui/MenuItemView.h"
#include "ui/SearchField.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QTransform>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr float kInset = 0.5f;
constexpr float kCornerRadius = 10.0f;
constexpr float kControlArm = 6.0f;
constexpr double kOutlineWidth = 0.25;
constexpr int kPanelWidth = 260;
}

MenuView::MenuView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setObjectName(QStringLiteral("menuView"));
}

void MenuView::build(const QStringList &titles, SearchField *searchField)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 8);
    layout->setSpacing(0);
    // The decoy takes the focus when a click opens the drop-down, so the
    // search field shows no insertion point then.
    auto *decoy = new QLineEdit(this);
    decoy->setObjectName(QStringLiteral("decoy"));
    decoy->setFrame(false);
    decoy->setGeometry(0, 0, 1, 1);
    decoy->setStyleSheet(QStringLiteral("background: transparent; color: transparent; border: none;"));
    decoy->installEventFilter(this);
    for (const QString &title : titles) {
        MenuItemView *row = title.isEmpty() ? MenuItemView::withSearchField(searchField, this) : MenuItemView::withTitle(title, this);
        layout->addWidget(row);
    }
    setFixedWidth(kPanelWidth);
    adjustSize();
    decoy->lower();
}

void MenuView::awakeFromNib(const MenuActions &actions)
{
    setupMenuActions(actions);
    setupMenuTrackingAreas();
}

QList<MenuItemView *> MenuView::menuItems() const
{
    return findChildren<MenuItemView *>(QString(), Qt::FindDirectChildrenOnly);
}

QLineEdit *MenuView::decoyTextField() const
{
    for (QObject *child : children())
        if (auto *field = qobject_cast<QLineEdit *>(child); field && !qobject_cast<SearchField *>(field))
            return field;
    return nullptr;
}

SearchField *MenuView::searchField() const
{
    SearchField *found = nullptr;
    for (MenuItemView *row : menuItems())
        if (auto *field = row->findChild<SearchField *>(QString(), Qt::FindDirectChildrenOnly))
            found = field;
    return found;
}

void MenuView::setupMenuActions(const MenuActions &actions)
{
    const QStringList keys{QStringLiteral("Quit Rivulet"), QStringLiteral("Rivulet Preferences"), QStringLiteral("Check for Updates"),
                           QStringLiteral("About Rivulet")};
    const QList<std::function<void()>> targets{actions.handleQuit, actions.openPreferencesWindow, actions.checkForUpdates,
                                               actions.openAboutWindow};
    const QStringList selectors{QStringLiteral("handleQuit:"), QStringLiteral("openPreferencesWindow:"), QStringLiteral("checkForUpdates:"),
                                QStringLiteral("openAboutWindow:")};
    m_validate = actions.validateMenuItem;
    for (MenuItemView *row : menuItems())
        setupActionForItem(row, keys, targets, selectors);
}

void MenuView::setupActionForItem(MenuItemView *item, const QStringList &keys, const QList<std::function<void()>> &targets,
                                  const QStringList &selectorStrings)
{
    item->setSelectable(false);
    for (QObject *child : item->children()) {
        if (qobject_cast<SearchField *>(child))
            return;
        auto *label = qobject_cast<QLabel *>(child);
        if (!label)
            continue;
        for (int i = 0; i < keys.size(); ++i) {
            if (label->text().startsWith(keys[i])) {
                item->setSelectable(true);
                item->setAction(targets[i]);
                item->setActionName(selectorStrings[i]);
                return;
            }
        }
    }
}

void MenuView::setupMenuTrackingAreas()
{
    m_trackingAreas.clear();
    // The rows' frames are only known once the layout has placed them.
    if (layout())
        layout()->activate();
    for (MenuItemView *row : menuItems()) {
        const QRect f = row->geometry();
        Log::f("Menu Item with Frame: %.0f, %.0f, %.0f, %.0f", double(f.x()), double(f.y()), double(f.width()), double(f.height()));
        m_trackingAreas << f;
    }
}

void MenuView::validateItems()
{
    for (MenuItemView *row : menuItems())
        if (row->selectable())
            row->setEnabledForAction(!m_validate || m_validate(row->actionName()));
}

void MenuView::mouseEntered(MenuItemView *row)
{
    if (row->selectable() && row->enabledForAction()) {
        row->setHighlighted(true);
        row->update();
    }
}

void MenuView::mouseExited(MenuItemView *row)
{
    row->setHighlighted(false);
    if (row->selectable())
        row->update();
}

void MenuView::trackPointer(const QPoint &globalPos)
{
    const QPoint pos = mapFromGlobal(globalPos);
    const QList<MenuItemView *> rows = menuItems();
    for (MenuItemView *row : rows) {
        const bool inside = isVisible() && row->geometry().contains(pos);
        if (inside && !row->highlighted())
            mouseEntered(row);
        else if (!inside && row->highlighted())
            mouseExited(row);
    }
}

void MenuView::unhighlightAll()
{
    for (MenuItemView *row : menuItems()) {
        if (row->highlighted()) {
            row->setHighlighted(false);
            if (row->selectable())
                row->update();
        }
    }
}

void MenuView::mouseDown()
{
    Log::f("MenuView: Mouse down");
    if (m_delegate && !m_delegate->open())
        m_delegate->setOpen(true);
}

void MenuView::mouseUp(std::optional<int> clickCount)
{
    MenuItemView *highlighted = nullptr;
    for (MenuItemView *row : menuItems()) {
        if (row->highlighted()) {
            highlighted = row;
            break;
        }
    }
    const int clicks = clickCount.value_or(0);
    if (!highlighted && clicks != 0)
        return; // a click on the panel outside any row
    const bool runs = highlighted && highlighted->selectable();
    if ((!highlighted || runs) && m_delegate)
        m_delegate->setOpen(false);
    if (runs && highlighted->action())
        highlighted->action()();
}

QPainterPath MenuView::outlinePath(const QRectF &bounds, bool mirrored)
{
    if (mirrored) {
        const double flip = 2 * bounds.y() + bounds.height();
        return QTransform(1, 0, 0, -1, 0, flip).map(outlinePath(bounds, false));
    }
    const float L = float(bounds.x()) + kInset;
    const float R = float(bounds.x() + bounds.width()) - kInset;
    const float top = float(bounds.y()) + kInset;
    const float bottom = float(bounds.y() + bounds.height()) - kInset;
    const float arm = kCornerRadius - kControlArm;
    QPainterPath path;
    path.moveTo(L, top);
    path.lineTo(L, bottom - kCornerRadius);
    path.cubicTo(L, bottom - arm, L + arm, bottom, L + kCornerRadius, bottom);
    path.lineTo(R - kCornerRadius, bottom);
    path.cubicTo(R - arm, bottom, R, bottom - arm, R, bottom - kCornerRadius);
    path.lineTo(R, top);
    return path; // open: the top edge gets no outline
}

void MenuView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = outlinePath(QRectF(rect()), m_mirrored);
    p.fillPath(path, palette().color(QPalette::Window));
    p.setPen(QPen(palette().color(QPalette::Mid), kOutlineWidth));
    p.drawPath(path);
}

void MenuView::setMirrored(bool mirrored)
{
    if (m_mirrored == mirrored)
        return;
    m_mirrored = mirrored;
    update();
}

void MenuView::moveHighlight(int step)
{
    QList<MenuItemView *> rows;
    for (MenuItemView *row : menuItems())
        if (row->selectable() && row->enabledForAction())
            rows << row;
    if (rows.isEmpty())
        return;
    int current = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i]->highlighted())
            current = i;
    const int next = current < 0 ? (step > 0 ? 0 : int(rows.size()) - 1) : qBound(0, current + step, int(rows.size()) - 1);
    unhighlightAll();
    mouseEntered(rows[next]);
}

bool MenuView::activateHighlighted()
{
    for (MenuItemView *row : menuItems()) {
        if (row->highlighted() && row->selectable()) {
            mouseUp(1);
            return true;
        }
    }
    return false;
}

// Keys while the decoy holds the focus (the drop-down opened by a click).
bool MenuView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || watched != decoyTextField())
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Up:
        moveHighlight(-1);
        return true;
    case Qt::Key_Down:
        moveHighlight(1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activateHighlighted();
        return true;
    case Qt::Key_Escape:
        if (m_delegate)
            m_delegate->setOpen(false);
        return true;
    default:
        break;
    }
    SearchField *search = searchField();
    if (search && !key->text().isEmpty() && key->text().at(0).isPrint()) {
        search->setFocus(Qt::OtherFocusReason);
        if (QWidget::keyboardGrabber() == watched)
            search->grabKeyboard(); // the rest of the typing goes there too
        QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text(), key->isAutoRepeat(), ushort(key->count()));
        QApplication::sendEvent(search, &copy);
    }
    return true; // the decoy itself never takes text
}

void MenuView::mouseMoveEvent(QMouseEvent *event)
{
    trackPointer(event->globalPosition().toPoint());
}

void MenuView::leaveEvent(QEvent *)
{
    trackPointer(QPoint(-100000, -100000));
}

void MenuView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressedAt = QDateTime::currentMSecsSinceEpoch();
    mouseDown();
}

void MenuView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool longPress = QDateTime::currentMSecsSinceEpoch() - m_pressedAt > QApplication::doubleClickInterval();
    mouseUp(longPress ? 0 : 1);
}
