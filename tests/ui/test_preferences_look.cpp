// How the windows look and sit on the screen: opened by the controller they
// fit the available area of their screen and are centred in it, at any
// scale (QT_SCALE_FACTOR is set by the runs in prefs.cmake); the preferences
// window follows the application palette, a dark Fusion one included.
// Screenshots go to $RIVULET_SCREENSHOTS.
#include "TestSupport.h"
#include "support/StartedApp.h"
#include "ui/PreferencesWindow.h"
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>

namespace {
QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), base(0x2a, 0x2a, 0x2a), text(0xee, 0xee, 0xee), dim(0x80, 0x80, 0x80);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::PlaceholderText, dim);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    return p;
}

QString scaleName()
{
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    return QStringLiteral("scale") + QString(scale).replace(QLatin1Char('.'), QLatin1Char('_'));
}

void screenshot(QWidget *w, const QString &name)
{
    const QString folder = qEnvironmentVariable("RIVULET_SCREENSHOTS", QDir::tempPath() + QStringLiteral("/rivulet-screenshots"));
    QDir().mkpath(folder);
    const QString file = folder + QStringLiteral("/%1-%2.png").arg(name, scaleName());
    QVERIFY(w->grab().save(file));
    qInfo("screenshot: %s", qPrintable(file));
}

double lightness(const QColor &c)
{
    return c.lightnessF();
}
}

class TestPreferencesLook : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }

    void windowsFitTheirScreenCentred()
    {
        StartedApp started;
        Rivulet_AppDelegate &app = *started.app;
        for (QWidget *w : {static_cast<QWidget *>(app.preferencesWC()), app.aboutWC()}) {
            app.openWindowForController(w, false);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QTest::qWait(300); // a window manager may still frame and place it
            const QRect area = w->screen()->availableGeometry();
            const QRect frame = w->frameGeometry();
            const QString where = QStringLiteral("%1: frame %2,%3 %4x%5 in %6,%7 %8x%9")
                                      .arg(w->objectName())
                                      .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
                                      .arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height());
            qInfo("%s", qPrintable(where));
            QVERIFY2(area.contains(frame), qPrintable(where)); // title bar included
            // Centred, give or take a rounding pixel and a frame the window manager drew unevenly.
            QVERIFY2(qAbs((frame.left() - area.left()) - (area.right() - frame.right())) <= 4, qPrintable(where));
            QVERIFY2(qAbs((frame.top() - area.top()) - (area.bottom() - frame.bottom())) <= 40, qPrintable(where));
            screenshot(w, w->objectName() + QStringLiteral("-placed"));
            w->close();
        }
        // Where the content does not fit it scrolls instead of leaving the
        // screen (checked above); up to scale 1.5 on 1280x800 nothing scrolls.
        if (qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble() <= 1.5) {
            PreferencesWindow *prefs = app.preferencesWC();
            auto *scroll = prefs->findChild<QScrollArea *>();
            app.openWindowForController(prefs, false);
            QVERIFY(QTest::qWaitForWindowExposed(prefs));
            QTRY_COMPARE(scroll->verticalScrollBar()->maximum(), 0);
            QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
            screenshot(prefs, QStringLiteral("PreferencesWindow-whole"));
            prefs->close();
        }
    }

    void followsTheApplicationPalette_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void followsTheApplicationPalette()
    {
        QFETCH(bool, dark);
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        // The palette changes while the window exists, as a desktop's theme switch does.
        const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
        QApplication::setPalette(palette);
        w->resize(w->sizeHint());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QImage shot = w->grab().toImage();
        QVERIFY(qAbs(lightness(shot.pixelColor(3, 3)) - lightness(palette.color(QPalette::Window))) < 0.1);
        // Nothing keeps a colour of its own: the quiet texts take the palette's.
        QCOMPARE(w->versionTextField->palette().color(w->versionTextField->foregroundRole()), palette.color(QPalette::PlaceholderText));
        QCOMPARE(w->deleteArchiveContentsText->palette().color(QPalette::Disabled, QPalette::WindowText),
                 palette.color(QPalette::Disabled, QPalette::WindowText));
        QVERIFY(!w->deleteArchiveContentsText->isEnabled());
        QCOMPARE(w->startAtLoginCheckbox->palette().color(QPalette::WindowText), palette.color(QPalette::WindowText));
        screenshot(w, dark ? QStringLiteral("preferences-dark") : QStringLiteral("preferences-light"));
        w->close();
        QApplication::setPalette(QApplication::style()->standardPalette());
    }
};

int main(int argc, char **argv)
{
    // On the rig's X server when there is one, so the placement is the real one.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestPreferencesLook test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_preferences_look.moc"
