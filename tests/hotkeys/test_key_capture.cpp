// Choosing the hotkey by pressing it: real key and mouse events from
// xdotool through the application's one event hook, on the X server;
// Escape cancels, and the keyboard alone can start a capture.
#include "TestSupport.h"
#include "hotkeys/KeyDownApplication.h"
#include <QKeyEvent>
#include <QProcess>
#include <QVBoxLayout>

namespace {
struct CaptureWindow : QWidget, HotkeyCaptureTarget {
    MouseDownTextField *field = new MouseDownTextField(this);
    QLineEdit *other = new QLineEdit(this);
    QList<QPair<quint16, quint64>> selected;
    CaptureWindow()
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(field);
        layout->addWidget(other);
        setGeometry(100, 100, 300, 100);
    }
    QWidget *captureWindow() const override { return const_cast<CaptureWindow *>(this); }
    bool refuseBareKeys = false;
    int escapesSeen = 0;
    bool hotkeySelected(quint16 keycode, quint64 modifiers) override
    {
        selected << qMakePair(keycode, modifiers);
        return !refuseBareKeys || (modifiers & 0x1E0000);
    }
    // Where a preferences window would close.
    void keyPressEvent(QKeyEvent *event) override { escapesSeen += event->key() == Qt::Key_Escape; }
};

void xdotool(const QStringList &args)
{
    QProcess::execute(QStringLiteral("xdotool"), args);
    QTest::qWait(150);
}

void clickOn(QWidget *w)
{
    const QPoint p = w->mapToGlobal(w->rect().center());
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()), QStringLiteral("click"), QStringLiteral("1")});
}
}

class TestKeyCapture : public QObject {
    Q_OBJECT
    CaptureWindow *window = nullptr;

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        window = new CaptureWindow;
        KeyDownApplication::setCaptureTarget(window);
        window->show();
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
    }
    void cleanupTestCase() { delete window; }

    void aKeyWithModifiersBecomesTheHotkey()
    {
        clickOn(window->field);
        QVERIFY(KeyDownApplication::targetTextFieldSelected());
        // Held like a person holds them: the modifier state is read when the key arrives.
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+shift")});
        xdotool({QStringLiteral("key"), QStringLiteral("s")});
        xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+shift")});
        QTRY_COMPARE(window->selected.size(), 1);
        QCOMPARE(window->selected[0].first, quint16(1)); // S
        QCOMPARE(window->selected[0].second & 0x1E0000, quint64(0x40000 | 0x20000));
        QVERIFY(!window->field->hasFocus());
        QVERIFY(window->field->text().isEmpty());
    }

    void modifierKeysAloneDoNotEndCapture()
    {
        clickOn(window->field);
        xdotool({QStringLiteral("key"), QStringLiteral("shift")});
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl")});
        QCOMPARE(window->selected.size(), 1);
        xdotool({QStringLiteral("keydown"), QStringLiteral("alt")});
        xdotool({QStringLiteral("key"), QStringLiteral("q")});
        xdotool({QStringLiteral("keyup"), QStringLiteral("alt")});
        QTRY_COMPARE(window->selected.size(), 2);
        QCOMPARE(window->selected[1].first, quint16(12)); // Q
        QCOMPARE(window->selected[1].second & 0x1E0000, quint64(0x80000));
    }

    void aClickElsewhereEndsCaptureWithoutAHotkey()
    {
        clickOn(window->field);
        clickOn(window->other);
        QVERIFY(!KeyDownApplication::targetTextFieldSelected());
        QVERIFY(!window->other->hasFocus()); // the press was swallowed
        QCOMPARE(window->selected.size(), 2);
        // Typing elsewhere is not captured.
        clickOn(window->other);
        xdotool({QStringLiteral("type"), QStringLiteral("abc")});
        QTRY_COMPARE(window->other->text(), QStringLiteral("abc"));
        QCOMPARE(window->selected.size(), 2);
    }

    void escapeCancelsAndReachesNobody()
    {
        clickOn(window->field);
        QVERIFY(KeyDownApplication::targetTextFieldSelected());
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY(!KeyDownApplication::targetTextFieldSelected());
        QCOMPARE(window->selected.size(), 2); // no hotkey chosen: plain Escape is no global hotkey
        QVERIFY(!window->field->hasFocus());
        // With a modifier, Escape is a key like any other.
        clickOn(window->field);
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl")});
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl")});
        QTRY_COMPARE(window->selected.size(), 3);
        QCOMPARE(window->selected[2].first, quint16(53));
    }

    void theKeyboardAloneStartsACapture()
    {
        window->field->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(window->field->hasFocus());
        QVERIFY(!KeyDownApplication::targetTextFieldSelected()); // focus alone arms nothing
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_VERIFY(KeyDownApplication::targetTextFieldSelected());
        QCOMPARE(window->selected.size(), 3); // Return started it and is not the hotkey
        xdotool({QStringLiteral("keydown"), QStringLiteral("alt")});
        xdotool({QStringLiteral("key"), QStringLiteral("k")});
        xdotool({QStringLiteral("keyup"), QStringLiteral("alt")});
        QTRY_COMPARE(window->selected.size(), 4);
        QCOMPARE(window->selected[3].first, quint16(40)); // K
        QCOMPARE(window->selected[3].second & 0x1E0000, quint64(0x80000));
    }

    // The field says it listens; a refused key keeps it listening, and the
    // Escape after it cancels the capture instead of reaching the window.
    void aRefusedKeyKeepsListeningAndEscapeStaysTheCaptures()
    {
        window->field->setText(QStringLiteral("Alt+K"));
        window->refuseBareKeys = true;
        clickOn(window->field);
        QVERIFY(window->field->listening());
        QVERIFY(window->field->text().isEmpty());
        QVERIFY(window->field->placeholderText().contains(QStringLiteral("Press")));
        xdotool({QStringLiteral("key"), QStringLiteral("k")});
        QTRY_COMPARE(window->selected.size(), 5);
        QVERIFY(KeyDownApplication::targetTextFieldSelected());
        QVERIFY(window->field->listening());
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY(!KeyDownApplication::targetTextFieldSelected());
        QCOMPARE(window->escapesSeen, 0);
        QVERIFY(!window->field->listening());
        QCOMPARE(window->field->text(), QStringLiteral("Alt+K")); // the old one, shown again
        window->refuseBareKeys = false;
    }
};

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    KeyDownApplication app(argc, argv);
    TestKeyCapture test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_key_capture.moc"
