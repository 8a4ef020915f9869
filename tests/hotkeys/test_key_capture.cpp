// Choosing the hotkey by pressing it: real xdotool events through the application's event hook.
#include "TestSupport.h"
#include "ui/UiTestSupport.h"
#include "hotkeys/KeyDownApplication.h"
#include <QKeyEvent>
#include <QProcess>
#include <QVBoxLayout>

namespace {
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

class TestKeyCapture : public QObject {
    Q_OBJECT
    CaptureWindow *window = nullptr;

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != "xcb"_L1)
            QSKIP("needs an X server");
        window = new CaptureWindow;
        KeyDownApplication::setCaptureTarget(window);
        window->show();
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
    }
    void cleanupTestCase() { delete window; }

    void init() { window->selected.clear(); }

    void aKeyWithModifiersBecomesTheHotkeyModifiersAloneDoNot()
    {
        clickOn(window->field);
        QVERIFY(KeyDownApplication::targetTextFieldSelected());
        chord(u"ctrl+shift"_s, u"s"_s);
        QTRY_COMPARE(window->selected.size(), 1);
        QCOMPARE(window->last(), Chosen(1, 0x40000 | 0x20000)); // S
        QVERIFY(!window->field->hasFocus() && window->field->text().isEmpty());
        clickOn(window->field);
        xdotool(u"key shift"_s);
        xdotool(u"key ctrl"_s);
        chord(u"alt"_s, u"q"_s);
        QTRY_COMPARE(window->selected.size(), 2);
        QCOMPARE(window->last(), Chosen(12, 0x80000)); // Q, the modifiers alone chose nothing
    }

    // A click elsewhere or Escape (also after a refused key) ends a capture and reaches nobody.
    void escapeCancelsAndReachesNobody()
    {
        clickOn(window->field);
        clickOn(window->other);
        QVERIFY(!KeyDownApplication::targetTextFieldSelected() && !window->other->hasFocus());
        clickOn(window->other); // typing elsewhere is not captured
        xdotool(u"type abc"_s);
        QTRY_COMPARE(window->other->text(), u"abc"_s);
        window->field->setText(u"Alt+K"_s);
        window->refuseBareKeys = true;
        clickOn(window->field);
        QVERIFY(window->field->listening() && window->field->text().isEmpty());
        QVERIFY(window->field->placeholderText().contains(u"Press"_s));
        xdotool(u"key k"_s); // refused: still listening
        QTRY_COMPARE(window->selected.size(), 1);
        QVERIFY(KeyDownApplication::targetTextFieldSelected() && window->field->listening());
        xdotool(u"key Escape"_s);
        QTRY_VERIFY(!KeyDownApplication::targetTextFieldSelected());
        QCOMPARE(window->selected.size(), 1); // plain Escape is no global hotkey
        QVERIFY(window->escapesSeen == 0 && !window->field->listening() && !window->field->hasFocus());
        QCOMPARE(window->field->text(), u"Alt+K"_s); // the old one, shown again
        window->refuseBareKeys = false;
        clickOn(window->field);
        chord(u"ctrl"_s, u"Escape"_s); // a key like any other
        QTRY_COMPARE(window->selected.size(), 2);
        QCOMPARE(window->last(), Chosen(53, 0x40000));
    }

    void theKeyboardAloneStartsACapture()
    {
        window->field->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(window->field->hasFocus());
        QVERIFY(!KeyDownApplication::targetTextFieldSelected()); // focus alone arms nothing
        xdotool(u"key Return"_s);
        QTRY_VERIFY(KeyDownApplication::targetTextFieldSelected());
        QVERIFY(window->selected.isEmpty()); // Return started it and is not the hotkey
        chord(u"alt"_s, u"k"_s);
        QTRY_COMPARE(window->selected.size(), 1);
        QCOMPARE(window->last(), Chosen(40, 0x80000)); // K
    }
};

RIVULET_X_TEST_MAIN(TestKeyCapture, KeyDownApplication)
#include "test_key_capture.moc"
