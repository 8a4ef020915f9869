#pragma once
// Tells when the X keyboard layout in use changes: another group becomes
// active (the user switched layouts) or a new keymap was loaded, so that key
// names shown to the user can be written again.
#include <QAbstractNativeEventFilter>
#include <QObject>

class KeyboardLayoutWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit KeyboardLayoutWatcher(QObject *parent = nullptr);
    ~KeyboardLayoutWatcher() override;
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void layoutChanged();

private:
    quint8 m_xkbFirstEvent = 0;
    bool m_installed = false;
};
