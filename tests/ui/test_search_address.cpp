// The music search address: "%s" takes the query, other locations get it
// appended, and only http and https addresses reach the browser. The last
// case drives the real controller's Return handling (by default this run's
// own page, served); the desktop's hand-over is caught with a URL handler
// (the tray test covers the real xdg-open path).
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "support/StartedApp.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include "ui/SearchAddress.h"
#include "ui/SearchField.h"
#include "ui/SearchPageServer.h"
#include "ui/StatusItem.h"
#include <QDesktopServices>
#include <QHostAddress>
#include <QTcpSocket>

class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

namespace {
// The status a GET of the page answers with (the server runs on this
// thread, so the waits keep the event loop turning).
int httpStatus(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 10000))
        return 0;
    socket.write(QByteArray("GET ") + SearchPageServer::kPagePath + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
    (void)QTest::qWaitFor([&] { return socket.canReadLine(); }, 10000);
    return socket.readLine().split(' ').value(1).toInt();
}
}

class TestSearchAddress : public QObject {
    Q_OBJECT

private slots:
    void addressForQuery_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("address");
        const QString q = QStringLiteral("blue moon & co/é");
        QTest::newRow("no %s: appended, reserved kept") << QStringLiteral("http://127.0.0.1:47231/search/search.html#/s/mediafire/") << q
                                                         << QStringLiteral("http://127.0.0.1:47231/search/search.html#/s/mediafire/blue%20moon%20&%20co/%C3%A9");
        QTest::newRow("no trailing slash: glued") << QStringLiteral("https://example.org/find?q=") << QStringLiteral("a b")
                                                  << QStringLiteral("https://example.org/find?q=a%20b");
        QTest::newRow("%s: one whole value") << QStringLiteral("https://example.org/find?q=%s&type=music") << q
                                             << QStringLiteral("https://example.org/find?q=blue%20moon%20%26%20co%2F%C3%A9&type=music");
        QTest::newRow("%s in the path") << QStringLiteral("https://example.org/tag/%s/") << QStringLiteral("a=b?")
                                        << QStringLiteral("https://example.org/tag/a%3Db%3F/");
        QTest::newRow("every %s") << QStringLiteral("https://example.org/?a=%s&b=%s") << QStringLiteral("x y")
                                  << QStringLiteral("https://example.org/?a=x%20y&b=x%20y");
        QTest::newRow("a query holding %s stays a query") << QStringLiteral("https://example.org/?q=%s") << QStringLiteral("%s")
                                                          << QStringLiteral("https://example.org/?q=%25s");
        QTest::newRow("empty query at %s") << QStringLiteral("https://example.org/?q=%s") << QString()
                                           << QStringLiteral("https://example.org/?q=");
    }

    void addressForQuery()
    {
        QFETCH(QString, location);
        QFETCH(QString, query);
        QTEST(SearchAddress::forQuery(location, query), "address");
    }

    void onlyWebAddressesPass_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("because");
        QTest::newRow("http") << QStringLiteral("http://127.0.0.1:47231/search/search.html#/s/mediafire/") << QString();
        QTest::newRow("https with %s") << QStringLiteral("https://example.org/?q=%s") << QString();
        QTest::newRow("upper-case scheme") << QStringLiteral("HTTPS://example.org/") << QString();
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd#") << QStringLiteral("not an http or https address");
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)//") << QStringLiteral("not an http or https address");
        QTest::newRow("ftp") << QStringLiteral("ftp://example.org/%s") << QStringLiteral("not an http or https address");
        QTest::newRow("no scheme") << QStringLiteral("example.org/search?q=") << QStringLiteral("not a valid web address");
        QTest::newRow("bad escape") << QStringLiteral("https://example.org/%zz") << QStringLiteral("not a valid web address");
        QTest::newRow("space in host") << QStringLiteral("https://exa mple.org/") << QStringLiteral("not a valid web address");
        QTest::newRow("no host") << QStringLiteral("https:///path") << QStringLiteral("names no web site");
        QTest::newRow("empty") << QStringLiteral(" ") << QStringLiteral("is empty");
    }

    void onlyWebAddressesPass()
    {
        QFETCH(QString, location);
        QFETCH(QString, because);
        const QString problem = SearchAddress::problem(location);
        if (because.isEmpty())
            QCOMPARE(problem, QString());
        else
            QVERIFY2(problem.contains(because), qPrintable(problem));
    }

    // The stored default, also as earlier versions stored it, means the
    // built-in page, moved to this run's listener; other locations stay.
    void builtInPageIsThisRunsPage_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("atPage");
        QTest::addColumn<QString>("notServed");
        const QString page = QStringLiteral("http://127.0.0.1:40001/search/search.html");
        QTest::newRow("the default") << QString::fromLatin1(kDefaultSearchLocation) << page + QStringLiteral("#/s/mediafire/") << QString();
        QTest::newRow("an earlier version's") << QStringLiteral("http://127.0.0.1:47231/search/search.html#/s/mediafire/")
                                              << page + QStringLiteral("#/s/mediafire/") << QString();
        QTest::newRow("no fragment") << QStringLiteral("http://127.0.0.1:47231/search/search.html") << page << QString();
        for (const char *other : {"http://127.0.0.1:47232/search/search.html#/s/mediafire/", "https://127.0.0.1:47231/search/search.html",
                                  "http://localhost:47231/search/search.html", "http://127.0.0.1:47231/search/search.html?q=",
                                  "https://example.org/?q=%s"})
            QTest::newRow(other) << QString::fromLatin1(other) << QString::fromLatin1(other) << QString::fromLatin1(other);
    }

    void builtInPageIsThisRunsPage()
    {
        QFETCH(QString, location);
        QTEST(SearchAddress::onThisRunsPage(location, QUrl(QStringLiteral("http://127.0.0.1:40001/search/search.html"))), "atPage");
        QTEST(SearchAddress::onThisRunsPage(location, QUrl()), "notServed");
    }

    // Return in the search field: the browser gets %s filled in, and a
    // location that is not a web address gets an alert instead.
    void returnOpensOnlyWebAddresses()
    {
        LogCapture log;
        StartedApp started(true);
        Rivulet_AppDelegate &app = *started.app;
        QTRY_VERIFY(app.statusItem()->iconView());
        SearchField *field = app.searchField();
        QVERIFY(field);
        OpenedUrls opened;
        const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"), QStringLiteral("ftp")};
        for (const QString &scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, &opened, "open");
        AlertCatcher alerts;
        field->setText(QStringLiteral("blue moon & co"));

        // The default: this run's own page, at a port the kernel picked, and served.
        app.controlTextViewDoCommandBySelector(field, QStringLiteral("insertNewline:"));
        QCOMPARE(opened.urls.size(), 1);
        const QUrl page = opened.urls.takeFirst();
        QVERIFY(page.port() > 0 && page.port() != QUrl(QString::fromLatin1(kDefaultSearchLocation)).port());
        QCOMPARE(page.toString(QUrl::FullyEncoded), SearchPageServer::running()->pageUrl().toString(QUrl::FullyEncoded) + QStringLiteral("#/s/mediafire/blue%20moon%20&%20co"));
        QCOMPARE(httpStatus(quint16(page.port())), 200);
        // An empty search does nothing.
        for (const QString &blank : {QString(), QStringLiteral("  ")}) {
            field->setText(blank);
            app.controlTextViewDoCommandBySelector(field, QStringLiteral("insertNewline:"));
        }
        QVERIFY(opened.urls.isEmpty());
        field->setText(QStringLiteral("blue moon & co"));

        Settings::setSearchLocation(QStringLiteral("https://example.org/search?q=%s&kind=music"));
        app.controlTextViewDoCommandBySelector(field, QStringLiteral("insertNewline:"));
        QCOMPARE(opened.urls.size(), 1);
        QCOMPARE(opened.urls[0].toString(QUrl::FullyEncoded), QStringLiteral("https://example.org/search?q=blue%20moon%20%26%20co&kind=music"));
        QVERIFY(alerts.seen.isEmpty());

        for (const QString &location : {QStringLiteral("file:///etc/"), QStringLiteral("ftp://example.org/%s"), QStringLiteral("not a url %s")}) {
            Settings::setSearchLocation(location);
            app.controlTextViewDoCommandBySelector(field, QStringLiteral("insertNewline:"));
            QCOMPARE(opened.urls.size(), 1);
            QCOMPARE(alerts.seen.size(), 1);
            QVERIFY2(alerts.seen.takeFirst().startsWith(QStringLiteral("The music search cannot be opened.|“") + location), qPrintable(location));
        }
        QVERIFY(!log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("moon"))); // no query text in the log
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
};

QTEST_MAIN(TestSearchAddress)
#include "test_search_address.moc"
