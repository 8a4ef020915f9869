// Check for Updates: without a feed nothing is fetched; a feed (here on loopback) links only https.
#include "TestSupport.h"
#include "ui/UiTestSupport.h"
#include "ui/UpdateChecker.h"
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
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

class TestUpdateChecker : public QObject {
    Q_OBJECT

private slots:
    // Built without a feed (the default): no request leaves, not even to a proxy.
    void withoutFeedNothingIsFetched()
    {
        if (QByteArray(RIVULET_UPDATE_FEED_URL).size())
            QSKIP("built with a release feed");
        qunsetenv("RIVULET_UPDATE_FEED");
        QVERIFY(UpdateChecker::feedUrl().isEmpty());
        LoopbackFeed proxy; // every request would go through it
        const QByteArray proxyUrl = "http://127.0.0.1:" + QByteArray::number(proxy.server.serverPort());
        for (const char *var : kProxyVariables)
            qputenv(var, proxyUrl);
        qunsetenv("no_proxy");
        QNetworkProxyFactory::setUseSystemConfiguration(true);

        UpdateChecker checker;
        checker.checkForUpdates();
        QTRY_VERIFY(checker.window());
        // The test program is in the build folder, as a copy built from source.
        QCOMPARE(checker.window()->text(), UpdateChecker::installedText(QStringLiteral(RIVULET_VERSION), QCoreApplication::applicationFilePath()));
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
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("package") << u"package"_s << u"installed from the package “rivulet”"_s;
        QTest::newRow("source") << u"source"_s << u"built from source in "_s;
        QTest::newRow("neither") << QString() << u"installed by no package"_s;
    }
    void saysHowThisCopyWasInstalled()
    {
        QFETCH(QString, kind);
        QTemporaryDir root;
        const QString program = root.filePath(u"usr/bin/rivulet"_s);
        QVERIFY(QDir().mkpath(root.filePath(u"usr/bin"_s)) && QDir().mkpath(root.filePath(u"dpkg"_s)));
        QVERIFY(writeFile(program, "#!/bin/sh\n"));
        // Another package's list naming the file too: only "rivulet" counts.
        QVERIFY(writeFile(root.filePath(u"dpkg/other.list"_s), QFile::encodeName(program) + "\n"));
        if (kind == "package"_L1)
            QVERIFY(writeFile(root.filePath(u"dpkg/rivulet.list"_s), "/.\n/usr\n" + QFile::encodeName(program) + "\n"));
        else if (kind == "source"_L1)
            QVERIFY(writeFile(root.filePath(u"usr/CMakeCache.txt"_s), "# CMake\n"));
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

QTEST_MAIN(TestUpdateChecker)
#include "test_update_checker.moc"
