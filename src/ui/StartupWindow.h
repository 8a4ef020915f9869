#pragma once
// The first-run window: asks once whether Rivulet should start at login,
// stores the answer and then opens the preferences window.
#include "ui/Windows.h"
#include <functional>

class QMessageBox;

class StartupWindow : public TrackedWindow {
    Q_OBJECT
public:
    static const QString kQuestion;
    // answered: called with the answer after it was stored.
    explicit StartupWindow(std::function<void(bool)> answered, QWidget *parent = nullptr);
    void buttonClicked();
    // 1 for "Yes" (the default button), 0 for "No".
    void alertDidEnd(int returnCode);
    QMessageBox *sheet() const { return m_sheet; }
    // Where to find Rivulet: in the tray, or, with no tray, by its hotkey
    // (its text; empty when off) and `rivulet --toggle`.
    void setTrayPresent(bool present, const QString &hotkey);
    QString introduction() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_sheetCancelled = false;
    std::function<void(bool)> m_answered;
    QMessageBox *m_sheet = nullptr;
    class QLabel *m_text = nullptr;
};
