// The drop-down, the icon, the window slot, the welcome and Check for Updates (without a
// feed nothing is fetched; a feed, here on loopback, links only https).
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "support/StartedApp.h"
#include "ui/IconAnimation.h"
#include "ui/IconView.h"
#include "ui/MenuItemView.h"
#include "ui/MenuPlacement.h"
#include "ui/StatusNotifierItem.h"
#include "ui/MenuView.h"
#include "ui/SearchField.h"
#include "ui/StartupWindow.h"
#include "ui/UpdateChecker.h"
#include <QTcpSocket>
#include <QLabel>
#include <QNetworkProxyFactory>
#include <QTcpServer>

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

const char *const kProxyVariables[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"};

// Answers every request with one body and remembers what it was asked.
struct LoopbackFeed {
    QTcpServer server;
    QByteArray body;
    QList<QByteArray> requests;
    LoopbackFeed()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket *c = server.nextPendingConnection();
            QObject::connect(c, &QTcpSocket::readyRead, c, [this, c] {
                requests << c->readAll();
                c->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body);
                c->disconnectFromHost();
            });
        });
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(server.serverPort()) + "/releases.json"; }
};
}

class TestInterface : public QObject {
    Q_OBJECT

private slots:
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

    // Host pixmaps in network byte order (the glyph's contrast: test_tray_sizes.sh, test_wayland.sh).
    void pixmapsForHostsAreInNetworkByteOrder()
    {
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
        view.build({QString(), u"About Rivulet"_s, u"Check for Updates…"_s, u"About"_s, u"Quit Rivulet"_s},
                   new SearchField);
        QStringList ran;
        MenuActions actions;
        actions.checkForUpdates = [&] { ran << u"updates"_s; };
        view.awakeFromNib(actions);
        const auto rows = view.menuItems();
        QCOMPARE(rows.size(), 5);
        QVERIFY(!rows[0]->selectable() && rows[1]->selectable() && !rows[3]->selectable()); // "About" alone is a label

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

        view.mouseUp(0); // after a long press, no row: closes (a click there: test_tray.sh)
        QVERIFY(!open.isOpen && ran.isEmpty());
        open.isOpen = true;
        view.mouseEntered(rows[2]);
        view.mouseUp(1);
        QVERIFY(!open.isOpen && ran == QStringList{u"updates"_s});
    }

    // Busy, the icon blinks; while the drop-down is open it shows its open look.
    void iconBlinksWhileBusyAndShowsTheOpenLook()
    {
        IconAnimation animation;
        struct OpenState : IconAnimationDelegate {
            bool o = false;
            bool open() const override { return o; }
        } state;
        animation.setDelegate(&state);
        IconView view;
        animation.awakeFromNib();
        animation.setImageView(&view);
        QVERIFY(animation.frame(1) != animation.frame(0));
        animation.start();
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(1), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(view.image(), animation.frame(0), 10000);
        animation.stop();
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

    void windowsOpenOneAtATime()
    {
        StartedApp started(true);
        Rivulet_AppDelegate &app = *started.app;
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

    // Built without a feed (the default): no request leaves, not even to a proxy.
    void withoutFeedNothingIsFetched()
    {
        if (QByteArray(RIVULET_UPDATE_FEED_URL).size())
            QSKIP("built with a release feed");
        qunsetenv("RIVULET_UPDATE_FEED");
        LoopbackFeed proxy; // every request would go through it
        for (const char *var : kProxyVariables)
            qputenv(var, "http://127.0.0.1:" + QByteArray::number(proxy.server.serverPort()));
        qunsetenv("no_proxy");
        QNetworkProxyFactory::setUseSystemConfiguration(true);

        UpdateChecker checker;
        checker.checkForUpdates();
        QTRY_VERIFY(checker.window());
        QVERIFY(checker.window()->text().contains(u"built from source"_s)); // as this test program is
        QTest::qWait(1000); // time for a request that should not come
        QVERIFY(proxy.requests.isEmpty() && !proxy.server.hasPendingConnections());
        checker.window()->buttons().first()->click();
        QTRY_VERIFY(!checker.window());
        for (const char *var : kProxyVariables)
            qunsetenv(var);
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    }

    // How this copy was installed, with a package database laid out as dpkg's.
    void saysHowThisCopyWasInstalled_data()
    {
        QTest::addColumn<QString>("marker"); // written under the copy's root, naming the program
        QTest::addColumn<QString>("says");
        QTest::newRow("package") << u"dpkg/rivulet.list"_s << u"installed from the package “rivulet”"_s;
        QTest::newRow("source") << u"usr/CMakeCache.txt"_s << u"built from source in "_s;
        QTest::newRow("neither") << QString() << u"installed by no package"_s;
    }
    void saysHowThisCopyWasInstalled()
    {
        QFETCH(QString, marker);
        QTemporaryDir root;
        const QString program = root.filePath(u"usr/bin/rivulet"_s);
        QVERIFY(QDir().mkpath(root.filePath(u"usr/bin"_s)) && QDir().mkpath(root.filePath(u"dpkg"_s)));
        QVERIFY(writeFile(program, "#!/bin/sh\n"));
        // Another package's list naming the file too: only "rivulet" counts.
        QVERIFY(writeFile(root.filePath(u"dpkg/other.list"_s), QFile::encodeName(program) + "\n"));
        QVERIFY(marker.isEmpty() || writeFile(root.filePath(marker), "/.\n/usr\n" + QFile::encodeName(program) + "\n"));
        const QString text = UpdateChecker::installedText(u"1.0"_s, program, root.filePath(u"dpkg"_s));
        QFETCH(QString, says);
        QVERIFY2(text.contains(says), qPrintable(text));
    }

    void feedIsAskedAndOnlyHttpsIsLinked_data()
    {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("link");
        const QString newer = QStringLiteral("Rivulet 9.0.1 is available (you have " RIVULET_VERSION ")."), noHttps = u" The release feed gives no https address to get it from."_s;
        QTest::newRow("newer, https") << QByteArray("{\"version\":\"9.0.1\",\"url\":\"https://example.org/rivulet?v=9&x=<b>\"}") << newer
                                      << u"https://example.org/rivulet?v=9&x=%3Cb%3E"_s;
        QTest::newRow("newer, http") << QByteArray("{\"version\":\"9.0.1\",\"url\":\"http://example.org/rivulet\"}") << newer + noHttps << QString();
        QTest::newRow("newer, javascript") << QByteArray("{\"version\":\"9.0.1\",\"url\":\"javascript:alert(1)\"}") << newer + noHttps << QString();
        QTest::newRow("same version") << QByteArray("{\"version\":\"" RIVULET_VERSION "\",\"url\":\"https://example.org/\"}")
                                      << QStringLiteral("Rivulet " RIVULET_VERSION " is the newest version.") << QString();
        QTest::newRow("garbage") << QByteArray("<html>") << u"Could not check for updates: the release feed could not be read."_s << QString();
        QTest::newRow("unreachable") << QByteArray() << u"Could not check for updates: "_s << QString();
    }

    void feedIsAskedAndOnlyHttpsIsLinked()
    {
        QFETCH(QByteArray, feed);
        QFETCH(QString, text);
        QFETCH(QString, link);
        LoopbackFeed server;
        server.body = feed;
        qputenv("RIVULET_UPDATE_FEED", server.url());
        if (feed.isEmpty())
            server.server.close();
        UpdateChecker checker;
        QSignalSpy shown(&checker, &UpdateChecker::resultShown);
        checker.checkForUpdates();
        QTRY_COMPARE(shown.size(), 1);
        qunsetenv("RIVULET_UPDATE_FEED");
        QMessageBox *box = checker.window();
        QVERIFY(box);
        const QString said = shown[0][0].toString();
        if (feed.isEmpty()) {
            QVERIFY2(said.startsWith(text) && said.contains(u"refused"_s, Qt::CaseInsensitive), qPrintable(said));
        } else if (link.isEmpty()) {
            QCOMPARE(box->text(), text);
            QCOMPARE(box->textFormat(), Qt::PlainText);
        } else { // the address is a link that a click opens in the browser
            QCOMPARE(box->textFormat(), Qt::RichText);
            QCOMPARE(box->text(), text.toHtmlEscaped() + u"<br><a href=\"%1\">%1</a>"_s.arg(link.toHtmlEscaped()));
            QLabel *label = box->findChild<QLabel *>(u"qt_msgbox_label"_s);
            QVERIFY(label && label->openExternalLinks() && (label->textInteractionFlags() & Qt::LinksAccessibleByMouse));
            QCOMPARE(said, text + QLatin1Char('\n') + link);
        }
        QVERIFY(feed.isEmpty() || (server.requests.size() == 1 && server.requests[0].startsWith("GET /releases.json HTTP/1.1\r\n")));
        // Focus and one button, as every other alert.
        QTRY_COMPARE(QApplication::activeWindow(), box);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->buttons().first()->text(), u"Dismiss"_s);
        box->close();
    }
};

QTEST_MAIN(TestInterface)
#include "test_interface.moc"
