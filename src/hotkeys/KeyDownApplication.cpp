#include "hotkeys/KeyDownApplication.h"
#include "base/Log.h"
#include "hotkeys/VirtualKeys.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace {
bool g_targetTextFieldSelected = false;
bool g_gotAMouseUp = false;
HotkeyCaptureTarget *g_target = nullptr;
QPointer<MouseDownTextField> g_listening;

// The toolkit's event type numbers, for the log line.
int toolkitEventType(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton ? 1 : 3;
    case QEvent::MouseButtonRelease:
        return static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton ? 2 : 4;
    case QEvent::MouseMove:
        return static_cast<const QMouseEvent *>(event)->buttons() & Qt::LeftButton ? 6 : 5;
    case QEvent::KeyPress:
        return 10;
    case QEvent::KeyRelease:
        return 11;
    case QEvent::Wheel:
        return 22;
    default:
        return 0;
    }
}

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta || key == Qt::Key_AltGr
           || key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_Super_L || key == Qt::Key_Super_R;
}
}

MouseDownTextField::MouseDownTextField(QWidget *parent) : QLineEdit(parent)
{
    setReadOnly(true);
}

void MouseDownTextField::showListening(bool on, bool cancelled)
{
    if (on == m_listening)
        return;
    m_listening = on;
    if (on) {
        m_before = text();
        m_placeholder = placeholderText();
        clear();
        setPlaceholderText(tr("Press the new shortcut… (Escape keeps the old one)"));
    } else {
        setPlaceholderText(m_placeholder);
        if (cancelled || text().isEmpty())
            setText(m_before);
    }
}

void MouseDownTextField::startListening()
{
    KeyDownApplication::setTargetTextFieldSelected(true);
    if (g_listening && g_listening != this)
        g_listening->showListening(false, true);
    g_listening = this;
    showListening(true);
}

void MouseDownTextField::mousePressEvent(QMouseEvent *)
{
    // The click has given the field the focus; no cursor, no selection.
    setFocus(Qt::MouseFocusReason);
    startListening();
}

bool MouseDownTextField::isStartKey(const QKeyEvent *event)
{
    const int key = event->key();
    return (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && !(event->modifiers() & ~Qt::KeypadModifier);
}

void MouseDownTextField::keyPressEvent(QKeyEvent *event)
{
    if (isStartKey(event))
        event->accept(); // capture starts when the key is let go
    else
        QLineEdit::keyPressEvent(event);
}

void MouseDownTextField::keyReleaseEvent(QKeyEvent *event)
{
    // The keyboard's way in: Return or Space in the focused field arms capture
    // once the key is up, so its own release is not taken for the hotkey.
    if (isStartKey(event) && !event->isAutoRepeat() && !KeyDownApplication::targetTextFieldSelected()) {
        startListening();
        KeyDownApplication::setGotAMouseUp(true);
        event->accept();
        return;
    }
    QLineEdit::keyReleaseEvent(event);
}

KeyDownApplication::KeyDownApplication(int &argc, char **argv) : QApplication(argc, argv) {}

void KeyDownApplication::setTargetTextFieldSelected(bool selected) { g_targetTextFieldSelected = selected; }
void KeyDownApplication::setGotAMouseUp(bool got) { g_gotAMouseUp = got; }
bool KeyDownApplication::targetTextFieldSelected() { return g_targetTextFieldSelected; }
void KeyDownApplication::setCaptureTarget(HotkeyCaptureTarget *target) { g_target = target; }

quint64 KeyDownApplication::currentModifierFlags()
{
    const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
    quint64 flags = 0;
    if (m & Qt::ShiftModifier)
        flags |= 0x20000;
    if (m & Qt::ControlModifier)
        flags |= 0x40000;
    if (m & Qt::AltModifier)
        flags |= 0x80000;
    if (m & Qt::MetaModifier)
        flags |= 0x100000;
    return flags;
}

bool KeyDownApplication::captureModeOn() const
{
    QWidget *window = g_target ? g_target->captureWindow() : nullptr;
    return window && g_targetTextFieldSelected && window->isActiveWindow() && qobject_cast<MouseDownTextField *>(window->focusWidget())
           && window->focusWidget()->hasFocus();
}

void KeyDownApplication::endCapture()
{
    if (QWidget *window = g_target ? g_target->captureWindow() : nullptr)
        if (QWidget *focus = window->focusWidget())
            focus->clearFocus();
    g_gotAMouseUp = false;
    g_targetTextFieldSelected = false;
}

bool KeyDownApplication::notify(QObject *receiver, QEvent *event)
{
    const int type = toolkitEventType(event);
    // Input reaches widgets after their native window: judge it there, once.
    if ((!type && event->type() != QEvent::ShortcutOverride) || !receiver->isWidgetType() || !captureModeOn())
        return QApplication::notify(receiver, event);
    QWidget *window = g_target->captureWindow();
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept(); // the key press that follows is ours
        return true;
    }
    Log::f("event type:%i firstresponder:%@", type, window->focusWidget()->metaObject()->className());
    if (type == 2 && !g_gotAMouseUp) {
        g_gotAMouseUp = true; // the release of the click that entered the field
        return true;
    }
    if (type == 5 || type == 6)
        return true;
    if ((type == 10 || type == 11) && isModifierKey(static_cast<QKeyEvent *>(event)->key()))
        return true; // modifier keys alone are neither a hotkey nor an end
    const auto *pressed = type == 10 ? static_cast<const QKeyEvent *>(event) : nullptr;
    const bool cancel = pressed && pressed->key() == Qt::Key_Escape && !(pressed->modifiers() & ~Qt::KeypadModifier) && !currentModifierFlags();
    if (cancel) {
        // Escape alone cancels: the hotkey stays what it was.
        Log::f("Hotkey capture cancelled");
    } else if (type == 10) {
        auto *key = static_cast<QKeyEvent *>(event);
        const quint16 keycode = virtualKeyForXKeycode(quint8(key->nativeScanCode()));
        Log::f("Key Down:%u modifiers:%u", unsigned(keycode), unsigned(currentModifierFlags()));
        if (!g_target->hotkeySelected(keycode, currentModifierFlags()))
            return true; // refused: the field listens on, and Escape stays its own
    } else if (type == 11) {
        return true; // the release of a refused key
    }
    if (g_listening)
        g_listening->showListening(false, cancel);
    g_listening = nullptr;
    endCapture();
    return true;
}
