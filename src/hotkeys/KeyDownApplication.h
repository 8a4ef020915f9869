#pragma once
// The application object: every event passes its notify() before dispatch.
// While the user chooses a hotkey (the hotkey field of the preferences
// window was clicked and has the focus), the next key press, with the
// modifiers held at that moment, is taken as the new hotkey instead of being
// typed; Escape alone cancels, and anything but mouse moves and modifier keys
// ends the capture, unless the target refuses the key: then it listens on.
#include <QApplication>
#include <QLineEdit>

class HotkeyCaptureTarget {
public:
    virtual ~HotkeyCaptureTarget() = default;
    virtual QWidget *captureWindow() const = 0;
    // Returns false when the key is refused: capture goes on.
    virtual bool hotkeySelected(quint16 keycode, quint64 modifiers) = 0;
};

// The hotkey field: a click (or Return or Space while it has the focus) asks
// for capture instead of placing a cursor.
class MouseDownTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit MouseDownTextField(QWidget *parent = nullptr);
    // While capture is on the field says it listens; cancelled, it shows
    // again what it showed before.
    void showListening(bool on, bool cancelled = false);
    bool listening() const { return m_listening; }
    // Asks for capture: the next key press is the new hotkey.
    void startListening();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    static bool isStartKey(const QKeyEvent *event);
    bool m_listening = false;
    QString m_before;
    QString m_placeholder;
};

class KeyDownApplication : public QApplication {
    Q_OBJECT
public:
    KeyDownApplication(int &argc, char **argv);
    static void setTargetTextFieldSelected(bool selected);
    static bool targetTextFieldSelected();
    // The click's own button release has been seen (or there was no click).
    static void setGotAMouseUp(bool got);
    static void setCaptureTarget(HotkeyCaptureTarget *target);
    // The toolkit modifier word of the keyboard's modifier state now.
    static quint64 currentModifierFlags();

    bool notify(QObject *receiver, QEvent *event) override;

private:
    bool captureModeOn() const;
    void endCapture();
};
