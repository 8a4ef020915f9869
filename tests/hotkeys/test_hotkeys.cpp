// The hotkey value, its grabs on the real X server (xdotool), its text under real layouts, and
// choosing it by pressing it: real xdotool events through the application's event hook.
#include "TestSupport.h"
#include "ui/UiTestSupport.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/Hotkey.h"
#include "hotkeys/KeyDownApplication.h"
#include "hotkeys/KeyboardLayoutWatcher.h"
#include <QKeyEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace {
constexpr quint64 kCommand = 0x100000, kShift = 0x20000, kOption = 0x80000, kControl = 0x40000;

class Receiver : public QObject {
    Q_OBJECT
public:
    int fired = 0;
    Q_INVOKABLE void hotKeyFired() { ++fired; }
};

void sh(const QString &command) { QProcess::execute(u"sh"_s, {u"-c"_s, command}); }

// As a layout switcher does.
void lockGroup(quint8 group)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

QString text(quint16 keycode, quint64 modifiers) { return Hotkey::hotkeyWithKeycode(keycode, modifiers).stringValue().value_or(u"(none)"_s); }

using Chosen = QPair<quint16, quint64>;

struct CaptureWindow : QWidget, HotkeyCaptureTarget {
    MouseDownTextField *field = new MouseDownTextField(this);
    QLineEdit *other = new QLineEdit(this);
    QList<Chosen> selected;
    bool refuseBareKeys = false;
    int escapesSeen = 0;
    CaptureWindow()
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(field);
        layout->addWidget(other);
        setGeometry(100, 100, 300, 100);
    }
    QWidget *captureWindow() const override { return const_cast<CaptureWindow *>(this); }
    bool hotkeySelected(quint16 keycode, quint64 modifiers) override
    {
        selected << qMakePair(keycode, modifiers);
        return !refuseBareKeys || (modifiers & 0x1E0000);
    }
    // Where a preferences window would close.
    void keyPressEvent(QKeyEvent *event) override { escapesSeen += event->key() == Qt::Key_Escape; }
    Chosen last() const { return {selected.last().first, selected.last().second & 0x1E0000}; }
};

void xdotool(const QString &args)
{
    QProcess::execute(u"xdotool"_s, args.split(QLatin1Char(' ')));
    QTest::qWait(150);
}

// The modifier state is read when the key arrives: held as a person holds them.
void chord(const QString &modifiers, const QString &key)
{
    xdotool(u"keydown "_s + modifiers);
    xdotool(u"key "_s + key);
    xdotool(u"keyup "_s + modifiers);
}

void clickOn(QWidget *w)
{
    const QPoint p = w->mapToGlobal(w->rect().center());
    xdotool(u"mousemove %1 %2 click 1"_s.arg(p.x()).arg(p.y()));
}
}

class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (QGuiApplication::platformName() != "xcb"_L1)
            QSKIP("needs an X server");
    }

    void displayTextFollowsTheActiveGroup()
    {
        sh(u"setxkbmap -layout us,de"_s);
        lockGroup(0);
        KeyboardLayoutWatcher watcher;
        QSignalSpy changed(&watcher, &KeyboardLayoutWatcher::layoutChanged);
        using Row = std::tuple<quint16, quint64, const char *>;
        for (const auto &[keycode, modifiers, shown] : {Row{2, kOption, "Alt+D"}, Row{40, kControl | kShift, "Ctrl+Shift+K"}, Row{49, kCommand, "Meta+Space"},
                                                        Row{12, 0, "Q"}, Row{36, 0, "Return"}, Row{126, 0, "Up"}, Row{116, kControl, "Ctrl+PgUp"},
                                                        Row{96, 0, "F5"}, Row{53, kControl, "Ctrl+Esc"}, Row{6, kOption, "Alt+Z"}, Row{16, kOption, "Alt+Y"},
                                                        Row{83, kControl, "Ctrl+Num+1"}, Row{67, kOption, "Alt+Num+*"}, Row{76, 0, "Num+Enter"}})
            QCOMPARE(text(keycode, modifiers), QString::fromUtf8(shown));
        lockGroup(1);
        QTRY_VERIFY(changed.count() >= 1);
        // German: Z and Y swap, ö right of L, a dead accent left of Backspace.
        QCOMPARE(text(6, kOption), u"Alt+Y"_s);
        QCOMPARE(text(41, 0), u"ö"_s);
        QCOMPARE(text(24, 0), u"(none)"_s);
        const int seen = int(changed.count());
        lockGroup(0);
        QTRY_VERIFY(changed.count() > seen);
        QCOMPARE(text(6, kOption), u"Alt+Z"_s);
        sh(u"setxkbmap -layout us"_s);
    }

    void centerRegistersGrabsAndFiresOnRelease()
    {
        DDHotKeyCenter center;
        Receiver receiver;
        QVERIFY(center.registerHotKeyWithKeyCode(2, kOption, &receiver, "hotKeyFired", QVariant()));
        QVERIFY(!center.registerHotKeyWithKeyCode(2, kOption, &receiver, "hotKeyFired", QVariant()));
        // A device-dependent bit makes the same X grab: refused, the first stays.
        QVERIFY(!center.registerHotKeyWithKeyCode(2, kOption | 0x20, &receiver, "hotKeyFired", QVariant()));
        QVERIFY(!center.registerHotKeyWithKeyCode(2, kOption | 0x10000, &receiver, "hotKeyFired", QVariant()));
        center.unregisterHotKeyWithKeyCode(2, kOption | 0x20); // the first stays: it fires below

        sh(u"xdotool key alt+d"_s);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.fired, 1, 3000);
        sh(u"xdotool key d"_s);
        QTest::qWait(300);
        QCOMPARE(receiver.fired, 1); // the bare key is not ours

        // Another client's grab is refused.
        xcb_connection_t *other = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_grab_key(other, 0, root, XCB_MOD_MASK_1, 24 /* q */, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // the grab is in place
        QVERIFY(!center.registerHotKeyWithKeyCode(12, kOption, &receiver, "hotKeyFired", QVariant()));
        xcb_disconnect(other);
        QVERIFY(center.registerHotKeyWithKeyCode(12, kOption, &receiver, "hotKeyFired", QVariant()));

        center.unregisterHotKeysWithTarget(&receiver);
        sh(u"xdotool key alt+d"_s);
        QTest::qWait(300);
        QCOMPARE(receiver.fired, 1);
    }

    // Many desktops switch Num Lock on at login; on some it is not Mod2.
    void hotkeyFiresWithALockKeyOn_data()
    {
        QTest::addColumn<QString>("lockKey");
        QTest::addColumn<QString>("numLockModifier");
        QTest::newRow("Caps Lock") << u"Caps_Lock"_s << u"mod2"_s;
        QTest::newRow("Num Lock") << u"Num_Lock"_s << u"mod2"_s;
        QTest::newRow("Num Lock on Mod3") << u"Num_Lock"_s << u"mod3"_s;
    }

    void hotkeyFiresWithALockKeyOn()
    {
        QFETCH(QString, lockKey);
        QFETCH(QString, numLockModifier);
        sh(u"xmodmap -e 'clear mod2' -e 'clear mod3' -e 'add %1 = Num_Lock'; xdotool key %2"_s.arg(numLockModifier, lockKey)); // on
        const auto restore = qScopeGuard([&] {
            sh(u"xdotool key %1; xmodmap -e 'clear mod3' -e 'clear mod2' -e 'add mod2 = Num_Lock'"_s.arg(lockKey));
        });
        DDHotKeyCenter center;
        Receiver receiver;
        QVERIFY(center.registerHotKeyWithKeyCode(2, kOption, &receiver, "hotKeyFired", QVariant()));
        sh(u"xdotool key alt+d"_s);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.fired, 1, 3000);
        center.unregisterHotKeysWithTarget(&receiver);
    }

    // A click elsewhere or Escape (also after a refused key) ends a capture and reaches nobody; the keyboard alone
    // starts one.
    void escapeCancelsAndReachesNobody()
    {
        CaptureWindow window;
        KeyDownApplication::setCaptureTarget(&window);
        const auto release = qScopeGuard([] { KeyDownApplication::setCaptureTarget(nullptr); });
        window.show();
        window.activateWindow();
        QTRY_VERIFY(window.isActiveWindow());
        clickOn(window.field);
        clickOn(window.other);
        QVERIFY(!KeyDownApplication::targetTextFieldSelected() && !window.other->hasFocus());
        clickOn(window.other); // typing elsewhere is not captured
        xdotool(u"type abc"_s);
        QTRY_COMPARE(window.other->text(), u"abc"_s);
        window.field->setText(u"Alt+K"_s);
        window.refuseBareKeys = true;
        clickOn(window.field);
        QVERIFY(window.field->listening() && window.field->text().isEmpty());
        QVERIFY(window.field->placeholderText().contains(u"Press"_s));
        xdotool(u"key k"_s); // refused: still listening
        QTRY_COMPARE(window.selected.size(), 1);
        QVERIFY(KeyDownApplication::targetTextFieldSelected() && window.field->listening());
        xdotool(u"key Escape"_s);
        QTRY_VERIFY(!KeyDownApplication::targetTextFieldSelected());
        QCOMPARE(window.selected.size(), 1); // plain Escape is no global hotkey
        QVERIFY(window.escapesSeen == 0 && !window.field->listening() && !window.field->hasFocus());
        QCOMPARE(window.field->text(), u"Alt+K"_s); // the old one, shown again
        window.refuseBareKeys = false;
        clickOn(window.field);
        chord(u"ctrl"_s, u"Escape"_s); // a key like any other
        QTRY_COMPARE(window.selected.size(), 2);
        QCOMPARE(window.last(), Chosen(53, 0x40000));

        // Tab focus alone arms nothing; Return starts a capture and is not the hotkey.
        window.other->setFocus();
        window.field->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(window.field->hasFocus());
        QVERIFY(!KeyDownApplication::targetTextFieldSelected());
        xdotool(u"key Return"_s);
        chord(u"alt"_s, u"k"_s);
        QTRY_COMPARE(window.selected.size(), 3);
        QCOMPARE(window.last(), Chosen(40, 0x80000)); // K
    }
};

RIVULET_X_TEST_MAIN(TestHotkeys, KeyDownApplication)
#include "test_hotkeys.moc"
