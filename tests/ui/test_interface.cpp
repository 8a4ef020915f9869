// The drop-down, the icon, the window slot, the welcome and the default search (offscreen).
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "support/StartedApp.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include "ui/IconAnimation.h"
#include "ui/IconView.h"
#include "ui/IconArt.h"
#include "ui/MenuItemView.h"
#include "ui/MenuPlacement.h"
#include "ui/StatusNotifierItem.h"
#include "ui/MenuView.h"
#include "ui/SearchField.h"
#include "ui/SearchPageServer.h"
#include "ui/StartupWindow.h"
#include "ui/StatusItem.h"
#include <QApplication>
#include <QDesktopServices>
#include <QTcpSocket>
#include <QLabel>
#include <QPainter>

namespace {
struct FakeOpen : MenuViewDelegate {
    bool isOpen = true;
    bool open() const override { return isOpen; }
    void setOpen(bool o) override { isOpen = o; }
};

QColor titleColour(MenuItemView *row)
{
    return row->findChild<QLabel *>()->palette().color(QPalette::WindowText);
}
}

class TestInterface : public QObject {
    Q_OBJECT

private slots:
    void outlineFollowsTheDrawingRule()
    {
        // y grows downward here: the top edge is at 0.5, the bottom at 99.5.
        const QList<QPointF> expected{{0.5, 0.5},  {0.5, 89.5},  {0.5, 95.5},   {4.5, 99.5},   {10.5, 99.5},
                                      {189.5, 99.5}, {195.5, 99.5}, {199.5, 95.5}, {199.5, 89.5}, {199.5, 0.5}};
        for (bool mirrored : {false, true}) { // above a bottom panel the same path turned upside down
            const QPainterPath path = MenuView::outlinePath(QRectF(0, 0, 200, 100), mirrored);
            QCOMPARE(path.elementCount(), expected.size());
            for (int i = 0; i < path.elementCount(); ++i)
                QCOMPARE(QPointF(path.elementAt(i)), QPointF(expected[i].x(), mirrored ? 100 - expected[i].y() : expected[i].y()));
        }
    }

    // From a host's activation point the panel is guessed from the icon being centred in it.
    void dropDownPlacement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QRect>("panel");
        QTest::addColumn<QRect>("work");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<bool>("above");
        const QRect screen(0, 0, 1280, 800);
        QTest::newRow("top tray") << QRect(1257, 1, 22, 22) << QRect(1200, 0, 80, 24) << screen << QRect(1019, 24, 260, 120) << false;
        QTest::newRow("tall panel") << QRect(1000, 4, 16, 16) << QRect(0, 0, 1280, 40) << screen << QRect(756, 40, 260, 120) << false;
        QTest::newRow("work area below a strut") << QRect(1000, 1, 22, 22) << QRect(1000, 1, 22, 22) << QRect(0, 30, 1280, 770)
                                                 << QRect(762, 30, 260, 120) << false;
        QTest::newRow("bottom tray") << QRect(1200, 778, 22, 22) << QRect(0, 776, 1280, 24) << screen << QRect(962, 656, 260, 120) << true;
        QTest::newRow("far left is clamped") << QRect(10, 1, 22, 22) << QRect(0, 0, 1280, 24) << screen << QRect(0, 24, 260, 120) << false;
        QTest::newRow("second screen below") << QRect(2500, 801, 22, 22) << QRect(1280, 800, 1280, 24) << QRect(1280, 800, 1280, 800)
                                             << QRect(2262, 824, 260, 120) << false;
        // The icon's centre and no panel; 11 px from the edge: a 22 px panel.
        QTest::newRow("point at the top") << QRect(1270, 11, 0, 0) << QRect() << screen << QRect(1020, 22, 260, 120) << false;
        QTest::newRow("point at the bottom") << QRect(600, 788, 0, 0) << QRect() << screen << QRect(351, 657, 260, 120) << true;
    }

    void dropDownPlacement()
    {
        QFETCH(QRect, icon);
        QFETCH(QRect, panel);
        QFETCH(QRect, work);
        const QRect screen = work.top() >= 800 ? QRect(1280, 800, 1280, 800) : QRect(0, 0, 1280, 800);
        if (panel.isNull())
            anchorForPoint(icon.topLeft(), screen, &icon, &panel);
        const MenuPlacement p = placeMenu(icon, panel, QSize(260, 120), screen, work);
        QTEST(p.frame, "expected");
        QTEST(p.above, "above");
    }

    void dropDownFollowsADarkPalette()
    {
        const auto restore = qScopeGuard([saved = QApplication::palette()] { QApplication::setPalette(saved); });
        QApplication::setPalette(darkPalette());
        MenuView view;
        view.build({QString(), u"About Rivulet"_s}, new SearchField);
        view.awakeFromNib({});
        view.resize(260, 80);
        const QImage shot = view.grab().toImage();
        const QColor panel = shot.pixelColor(130, shot.height() - 4);
        QVERIFY2(panel.lightness() < 80 && titleColour(view.menuItems()[1]).lightness() > 200, qPrintable(panel.name()));
    }

    void iconArtReadsOnEveryPanel()
    {
        const QColor light(Qt::white), dark(0x20, 0x20, 0x20);
        using P = IconArt::Panel;
        for (int size : {16, 22, 44, 96}) {
            for (const auto &[panel, background] : {std::pair{P::Light, light}, {P::Dark, dark}, {P::Unknown, light}, {P::Unknown, dark}}) {
                const QImage image = IconArt::render(0, size, panel);
                QCOMPARE(image.size(), QSize(size, size));
                QImage onPanel(size, size, QImage::Format_ARGB32);
                onPanel.fill(background);
                QPainter(&onPanel).drawImage(0, 0, image);
                int most = 0;
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x)
                        most = qMax(most, qAbs(onPanel.pixelColor(x, y).lightness() - background.lightness()));
                QVERIFY2(most > 120, qPrintable(u"size %1 contrast %2"_s.arg(size).arg(most)));
            }
        }
        QCOMPARE(IconArt::panelFor(QColor(0xed, 0xec, 0xeb)), IconArt::Panel::Light);
        QCOMPARE(IconArt::panelFor(QColor(0x20, 0x20, 0x20)), IconArt::Panel::Dark);
        const SniPixmapList pixmaps = StatusNotifierItem::pixmapsFor([](int size) {
            QImage red(size, size, QImage::Format_ARGB32);
            red.fill(QColor(255, 0, 0, 255));
            return red;
        });
        QVERIFY(pixmaps.size() >= 4);
        QCOMPARE(pixmaps.first().bytes.left(4), QByteArray("\xff\xff\x00\x00", 4)); // A, R, G, B
    }

    void rowsBindByTitleBeginning()
    {
        MenuView view;
        auto *search = new SearchField;
        view.build({QString(), u"About Rivulet"_s, u"Check for Updates…"_s, u"About"_s, u"Quit Rivulet"_s}, search);
        QStringList ran;
        MenuActions actions;
        actions.handleQuit = [&] { ran << u"quit"_s; };
        actions.checkForUpdates = [&] { ran << u"updates"_s; };
        view.awakeFromNib(actions);
        const auto rows = view.menuItems();
        QCOMPARE(rows.size(), 5);
        QVERIFY(!rows[0]->selectable() && rows[1]->selectable() && !rows[3]->selectable()); // "About" alone is a label
        QVERIFY(view.searchField() == search && view.decoyTextField() && view.decoyTextField() != search);

        // A second matching label binds the row; a search field before it stops the binding.
        for (bool searchFirst : {false, true}) {
            MenuItemView item;
            searchFirst ? static_cast<QWidget *>(new SearchField(&item)) : new QLabel(u"Nothing"_s, &item);
            new QLabel(u"About Rivulet"_s, &item);
            MenuView::setupActionForItem(&item, {u"About Rivulet"_s}, {[] {}}, {u"openAboutWindow:"_s});
            QCOMPARE(item.selectable(), !searchFirst);
        }

        FakeOpen open;
        view.setDelegate(&open);
        for (int label : {0, 3}) {
            view.mouseEntered(rows[label]);
            QVERIFY(!rows[label]->highlighted());
        }
        view.mouseEntered(rows[1]);
        QVERIFY(rows[1]->highlighted() && titleColour(rows[1]) == QColor(Qt::white));
        view.mouseExited(rows[1]);
        QCOMPARE(titleColour(rows[1]), QColor(Qt::black));

        view.mouseUp(1); // on the panel, no row: stays open
        QVERIFY(open.isOpen && ran.isEmpty());
        view.mouseUp(0); // after a long press: closes
        QVERIFY(!open.isOpen && ran.isEmpty());
        open.isOpen = true;
        view.mouseEntered(rows[2]);
        view.mouseUp(1);
        QVERIFY(!open.isOpen && ran == QStringList{u"updates"_s});
        open.isOpen = true;
        view.unhighlightAll();
        rows[3]->setHighlighted(true); // highlighted by other means, not selectable
        view.mouseUp(1);
        QVERIFY(open.isOpen && ran.size() == 1);
        view.unhighlightAll();
        QVERIFY(!rows[3]->highlighted());
    }

    // Frames alternate every half second while running, then settle on the open state's look.
    void iconFramesFollowTheClockAndTheOpenState()
    {
        IconAnimation animation;
        struct OpenState : IconAnimationDelegate {
            bool o = false;
            bool open() const override { return o; }
        } state;
        animation.setDelegate(&state);
        IconView view;
        animation.awakeFromNib();
        QVERIFY(!animation.frame(0).isNull() && !animation.frame(1).isNull());
        animation.setImageView(&view);
        QCOMPARE(view.image(), animation.frame(0));
        animation.start();
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(1), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(animation.getFrameIndex(), 0, 10000);
        animation.start(); // keeps the first start time
        QCOMPARE(animation.getFrameIndex(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(0), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(1), 10000);
        animation.stop();
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(0), 10000);
        state.o = true;
        animation.updateIconImage();
        QCOMPARE(view.image(), animation.frame(1));
    }

    void welcomeSaysWhereToFindRivulet()
    {
        StartupWindow welcome(nullptr);
        QVERIFY(welcome.introduction().contains(u"in the tray"_s));
        welcome.setTrayPresent(false, u"Alt+D"_s);
        const QString text = welcome.introduction();
        QVERIFY2(text.contains(u"Alt+D"_s) && text.contains(u"rivulet --toggle"_s) && !text.contains(u"in the tray"_s), qPrintable(text));
    }

    // This run's page (a port the kernel picked, served), the query escaped and not logged; empty opens nothing.
    void searchOpensThisRunsPageAndLogsNoQuery()
    {
        LogCapture log;
        StartedApp started(true);
        Rivulet_AppDelegate &app = *started.app;
        SearchField *field = nullptr;
        QTRY_VERIFY((field = app.searchField())); // once the interface is built
        OpenedUrls browser; // the desktop's hand-over, caught (test_tray.sh: the real xdg-open path)
        QDesktopServices::setUrlHandler(u"http"_s, &browser, "open");
        for (const QString &query : {u"blue moon & co"_s, QString(), u"  "_s}) {
            field->setText(query);
            app.controlTextViewDoCommandBySelector(field, u"insertNewline:"_s);
        }
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QCOMPARE(browser.urls.size(), 1);
        const QUrl page = browser.urls.first();
        QVERIFY(page.port() > 0 && page.port() != QUrl(QString::fromLatin1(kDefaultSearchLocation)).port());
        QCOMPARE(page.toString(QUrl::FullyEncoded),
                 SearchPageServer::running()->pageUrl().toString(QUrl::FullyEncoded) + u"#/s/mediafire/blue%20moon%20&%20co"_s);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(page.port()));
        socket.write(QByteArray("GET ") + SearchPageServer::kPagePath + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(page.port()) + "\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(socket.canReadLine(), 10000); // the server runs on this thread's event loop
        QCOMPARE(socket.readLine(), QByteArray("HTTP/1.1 200 OK\r\n"));
        QVERIFY(!log.lines().join(QLatin1Char('\n')).contains(u"moon"_s));
    }

    void windowsOpenOneAtATime()
    {
        StartedApp started(true);
        Rivulet_AppDelegate &app = *started.app;
        QVERIFY(app.validateMenuItem(u"handleQuit:"_s));
        app.openPreferencesWindow();
        QWidget *prefs = app.preferencesWC();
        QVERIFY(prefs->isVisible() && app.modalWindow() == prefs);
        QVERIFY(!app.validateMenuItem(u"handleQuit:"_s) && app.validateMenuItem(u"openAboutWindow:"_s));
        app.openAboutWindow();
        QVERIFY(!prefs->isVisible() && app.aboutWC()->isVisible());
        QCOMPARE(app.aboutWC()->findChild<QLabel *>(u"versionLabel"_s)->text(), QStringLiteral("v" RIVULET_VERSION));
        app.aboutWC()->close(); // empties the slot: Quit is allowed again
        QVERIFY(!app.modalWindow() && app.validateMenuItem(u"handleQuit:"_s));
    }
};

QTEST_MAIN(TestInterface)
#include "test_interface.moc"
