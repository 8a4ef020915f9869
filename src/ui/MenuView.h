#pragma once
// The drop-down's content: a panel in the palette's window colour with
// rounded lower corners (upper ones when it opens above a bottom panel), one
// row per entry, highlighted under the pointer or with Up and Down;
// releasing the button on a row, or Return, closes the drop-down and runs
// the row's action. Typing while no field has the focus goes to the search.
#include <QList>
#include <QPainterPath>
#include <QWidget>
#include <functional>
#include <optional>

class MenuItemView;
class QLineEdit;
class SearchField;

class MenuViewDelegate {
public:
    virtual ~MenuViewDelegate() = default;
    virtual bool open() const = 0;
    virtual void setOpen(bool open) = 0;
};

// What the rows do, bound by the beginning of their titles.
struct MenuActions {
    std::function<void()> handleQuit;
    std::function<void()> openPreferencesWindow;
    std::function<void()> checkForUpdates;
    std::function<void()> openAboutWindow;
    // Whether an action may run now (Quit is not allowed while a window holds the slot).
    std::function<bool(const QString &actionName)> validateMenuItem;
};

class MenuView : public QWidget {
    Q_OBJECT
public:
    explicit MenuView(QWidget *parent = nullptr);
    // Builds the rows, the search field and the decoy, then binds the rows.
    void build(const QStringList &titles, SearchField *searchField);
    void awakeFromNib(const MenuActions &actions);

    void setDelegate(MenuViewDelegate *d) { m_delegate = d; }
    MenuViewDelegate *delegate() const { return m_delegate; }
    QList<MenuItemView *> menuItems() const;
    QLineEdit *decoyTextField() const;
    SearchField *searchField() const;

    void setupMenuActions(const MenuActions &actions);
    static void setupActionForItem(MenuItemView *item, const QStringList &keys, const QList<std::function<void()>> &targets,
                                   const QStringList &selectorStrings);
    void setupMenuTrackingAreas();
    // Highlights the row under a point given in screen coordinates.
    void trackPointer(const QPoint &globalPos);
    void mouseEntered(MenuItemView *row);
    void mouseExited(MenuItemView *row);
    void mouseDown();
    // The release rules; clickCount none stands for a release forwarded from the icon.
    void mouseUp(std::optional<int> clickCount);
    void unhighlightAll();
    // Enables or greys rows by whether their action may run now.
    void validateItems();
    // The panel's outline for a bounds rectangle (y grows downward);
    // mirrored top to bottom for a drop-down standing above a bottom panel.
    static QPainterPath outlinePath(const QRectF &bounds, bool mirrored = false);
    void setMirrored(bool mirrored);
    bool mirrored() const { return m_mirrored; }
    // Keyboard on the rows: +1 / -1 moves the highlight among the rows that
    // can act; activateHighlighted runs the highlighted one.
    void moveHighlight(int step);
    bool activateHighlighted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MenuViewDelegate *m_delegate = nullptr;
    std::function<bool(const QString &)> m_validate;
    QList<QRect> m_trackingAreas;
    qint64 m_pressedAt = 0;
    bool m_mirrored = false;
};
