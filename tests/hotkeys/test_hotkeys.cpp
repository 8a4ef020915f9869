// The hotkey value, the hotkey center on the real X server (key grabs,
// releases sent with xdotool, a grab held by another client) and the
// display text under real keyboard layouts.
#include "TestSupport.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/Hotkey.h"
#include <QApplication>
#include <QProcess>
#include <xcb/xcb.h>

namespace {
constexpr quint64 kCommand = 0x100000, kShift = 0x20000, kOption = 0x80000, kControl = 0x40000;

class Receiver : public QObject {
    Q_OBJECT
public:
    int fired = 0;
    Q_INVOKABLE void hotKeyFired() { ++fired; }
};

void xdotool(const QStringList &args)
{
    QProcess::execute(QStringLiteral("xdotool"), args);
}

void setLayout(const QString &layout)
{
    QProcess::execute(QStringLiteral("setxkbmap"), {layout});
}
}

class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void packingKeepsEveryBitItPromises()
    {
        LogCapture log;
        QCOMPARE(Hotkey::hotkeyWithKeycode(1, kCommand | kShift).unsignedLongLongValue(), quint64(19791209299969ULL));
        QCOMPARE(log.lines().last(), QStringLiteral("19791209299969 <-- 1, 1179648)"));
        const Hotkey h = Hotkey::hotkeyWithLongLong(19791209299969ULL);
        QCOMPARE(h.keycode(), quint16(1));
        QCOMPARE(h.modifiers(), kCommand | kShift);
        QCOMPARE(log.lines().last(), QStringLiteral("19791209299969 --> 1, 1179648"));
        QCOMPARE(Hotkey::hotkeyWithKeycode(49, kCommand | kOption).unsignedLongLongValue(), quint64(26388279066673ULL));
        const Hotkey def = Hotkey::hotkeyWithLongLong(8796093022210ULL);
        QCOMPARE(def.keycode(), quint16(2));
        QCOMPARE(def.modifiers(), kOption);
        const Hotkey middle = Hotkey::hotkeyWithLongLong(8796093022210ULL | 0xAB0000);
        QCOMPARE(middle.keycode(), quint16(2));
        QCOMPARE(middle.modifiers(), kOption);
        QCOMPARE(Hotkey::hotkeyWithKeycode(5, (quint64(1) << 41) | kShift).unsignedLongLongValue(), quint64(5) + (kShift << 24));
        QCOMPARE(Hotkey::hotkeyWithKeycode(0, 0).unsignedLongLongValue(), quint64(0));
        QCOMPARE(Hotkey::hotkeyWithLongLong(0).modifiers(), quint64(0));
        QCOMPARE(Hotkey::hotkeyWithKeycode(0x1FFFF, 0).keycode(), quint16(0xFFFF));
    }

    void keyTextsAndGlyphs()
    {
        QCOMPARE(Hotkey::modifierGlyphs(kCommand) + QLatin1Char(' ') + Hotkey::keyTextForTranslation(QStringLiteral("q")), QStringLiteral("\u2318 Q"));
        QCOMPARE(Hotkey::keyTextForTranslation(QStringLiteral(" ")), QStringLiteral("Space"));
        QCOMPARE(Hotkey::keyTextForTranslation(QString(QChar(0x0D))), QStringLiteral("Enter"));
        QCOMPARE(Hotkey::keyTextForTranslation(QString(QChar(0x03))), QStringLiteral("Return"));
        QCOMPARE(Hotkey::keyTextForTranslation(QString(QChar(0xF702))), QStringLiteral("Left"));
        QCOMPARE(Hotkey::keyTextForTranslation(QStringLiteral("é")), QStringLiteral("é"));
        QCOMPARE(Hotkey::keyTextForTranslation(QStringLiteral("ab")), QStringLiteral("ab"));
        QCOMPARE(Hotkey::modifierGlyphs(kShift | kControl | kCommand | kOption), QStringLiteral("\u2326\u2324\u2318\u2325"));
        QCOMPARE(Hotkey::modifierGlyphs(0x10000 | 0x102), QString());
        QCOMPARE(dd_stringifyModifierFlags(0x1A0000), QStringLiteral("(NSCommandKeyMask | NSShiftKeyMask | NSAlternateKeyMask)"));
        QCOMPARE(dd_stringifyModifierFlags(0), QStringLiteral("ERROR: No valid flags"));
        QCOMPARE(dd_stringifyModifierFlags(0x10000), QStringLiteral("ERROR: No valid flags"));
        QCOMPARE(dd_translateModifierFlags(0x1E0000), quint32(0x1B00));
        QCOMPARE(dd_translateModifierFlags(0x10000), quint32(0));
    }

    void displayTextUnderTheCurrentLayout()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        setLayout(QStringLiteral("us"));
        QCOMPARE(Hotkey::hotkeyWithKeycode(12, kCommand).stringValue(), std::optional<QString>(QStringLiteral("\u2318 Q")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(12, 0).stringValue(), std::optional<QString>(QStringLiteral("Q")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(49, kCommand | kOption).stringValue(), std::optional<QString>(QStringLiteral("\u2318\u2325 Space")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(36, 0).stringValue(), std::optional<QString>(QStringLiteral("Enter")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(76, 0).stringValue(), std::optional<QString>(QStringLiteral("Return")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(126, 0).stringValue(), std::optional<QString>(QStringLiteral("Up")));
        QCOMPARE(Hotkey::hotkeyWithKeycode(2, kOption).stringValue(), std::optional<QString>(QStringLiteral("\u2325 D")));
        setLayout(QStringLiteral("de"));
        // On a German layout the key right of L types ö, and the key left of Backspace is a dead accent.
        QCOMPARE(Hotkey::hotkeyWithKeycode(41, 0).stringValue(), std::optional<QString>(QStringLiteral("ö")));
        LogCapture log;
        QCOMPARE(Hotkey::hotkeyWithKeycode(24, 0).stringValue(), std::nullopt);
        QVERIFY(log.contains(QStringLiteral("Couldn't find a translation for the '24' key code")));
        setLayout(QStringLiteral("us"));
    }

    void centerRegistersGrabsAndFiresOnRelease()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        DDHotKeyCenter center;
        Receiver receiver;
        const quint32 first = DDHotKeyCenter::nextHotKeyID();
        // Option-D, as stored by default; the same again is refused.
        QVERIFY(center.registerHotKeyWithKeyCode(2, kOption, &receiver, "hotKeyFired", QVariant()));
        QVERIFY(!center.registerHotKeyWithKeyCode(2, kOption, &receiver, "hotKeyFired", QVariant()));
        QCOMPARE(center.registeredHotKeys().size(), size_t(1));
        QCOMPARE(center.registeredHotKeys()[0]->hotKeyID(), first);
        // An extra device-dependent bit is another combination, the same grab for X.
        QVERIFY(center.registerHotKeyWithKeyCode(2, kOption | 0x20, &receiver, "hotKeyFired", QVariant()));
        QCOMPARE(center.hotKeysMatchingPredicate([](const _DDHotKey &k) { return k.keyCode() == 2; }).size(), size_t(2));
        center.unregisterHotKeyWithKeyCode(2, kOption | 0x20);
        QCOMPARE(center.registeredHotKeys().size(), size_t(1));

        xdotool({QStringLiteral("key"), QStringLiteral("alt+d")});
        QTRY_COMPARE_WITH_TIMEOUT(receiver.fired, 1, 3000);
        xdotool({QStringLiteral("key"), QStringLiteral("d")});
        QTest::qWait(300);
        QCOMPARE(receiver.fired, 1); // the bare key is not ours

        // A grab another client holds is refused, and its id is not used up.
        xcb_connection_t *other = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_grab_key(other, 0, root, XCB_MOD_MASK_1, 24 /* q */, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // the grab is in place
        const quint32 next = DDHotKeyCenter::nextHotKeyID();
        QVERIFY(!center.registerHotKeyWithKeyCode(12, kOption, &receiver, "hotKeyFired", QVariant()));
        QCOMPARE(DDHotKeyCenter::nextHotKeyID(), next);
        xcb_disconnect(other);
        QVERIFY(center.registerHotKeyWithKeyCode(12, kOption, &receiver, "hotKeyFired", QVariant()));
        QCOMPARE(center.registeredHotKeys().back()->hotKeyID(), next);

        center.unregisterHotKeysWithTarget(&receiver);
        QVERIFY(center.registeredHotKeys().empty());
        xdotool({QStringLiteral("key"), QStringLiteral("alt+d")});
        QTest::qWait(300);
        QCOMPARE(receiver.fired, 1);
        bool threw = false;
        try {
            DDHotKey plain;
            center.unregisterHotKey(&plain);
        } catch (const std::invalid_argument &e) {
            threw = QString::fromLatin1(e.what()) == QLatin1String("Invalid hotkey");
        }
        QVERIFY(threw);
    }
};

int main(int argc, char **argv)
{
    // The display text and the grabs need the real X server, not the offscreen one.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestHotkeys test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_hotkeys.moc"
