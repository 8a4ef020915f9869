#pragma once
// One row of the drop-down: a title (or the search field) that highlights
// under the pointer when the row has an action.
#include <QWidget>
#include <functional>

class QLabel;
class SearchField;

class MenuItemView : public QWidget {
    Q_OBJECT
public:
    explicit MenuItemView(QWidget *parent = nullptr);
    // A row showing a title, or the row holding the search field.
    static MenuItemView *withTitle(const QString &title, QWidget *parent);
    static MenuItemView *withSearchField(SearchField *field, QWidget *parent);

    bool selectable() const { return m_selectable; }
    void setSelectable(bool s) { m_selectable = s; }
    bool highlighted() const { return m_highlighted; }
    void setHighlighted(bool on);
    // The row's action: its target and what it calls there.
    std::function<void()> action() const { return m_action; }
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    QString actionName() const { return m_actionName; }
    void setActionName(const QString &name) { m_actionName = name; }
    // A row whose action is not allowed now shows its title greyed and does nothing.
    void setEnabledForAction(bool enabled);
    bool enabledForAction() const { return m_enabled; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyTitleColour();
    bool m_selectable = false;
    bool m_highlighted = false;
    bool m_enabled = true;
    std::function<void()> m_action;
    QString m_actionName;
};
