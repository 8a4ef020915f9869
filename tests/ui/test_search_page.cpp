// The music search: the address made from the query ("%s" takes it, other
// locations get it appended; only http and https addresses reach the
// browser), Return in the real controller (by default this run's own page,
// served; the desktop's hand-over caught with a URL handler, the tray test
// covers the real xdg-open path), the loopback server that answers only GET
// and HEAD of the page and its assets on 127.0.0.1, and the page, opened by
// a real headless Chromium, that offers the query to the music sites.
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "HeadlessChromium.h"
#include "support/StartedApp.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include "ui/SearchAddress.h"
#include "ui/SearchField.h"
#include "ui/SearchPageServer.h"
#include "ui/StatusItem.h"
#include <QDesktopServices>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

namespace {
const QString kQuery = QStringLiteral("blue moon & co/é");
// The query as one escaped value, and each site's address with it.
const QString kValue = QStringLiteral("blue%20moon%20%26%20co%2F%C3%A9");
const QStringList kSiteAddresses{
    QStringLiteral("https://bandcamp.com/search?q=") + kValue,
    QStringLiteral("https://musicbrainz.org/search?type=recording&method=indexed&query=") + kValue,
    QStringLiteral("https://www.jamendo.com/search?q=") + kValue,
    QStringLiteral("https://archive.org/search?query=") + kValue + QStringLiteral("&and%5B%5D=mediatype%3A%22audio%22"),
    QStringLiteral("https://www.youtube.com/results?search_query=") + kValue,
};

// One raw request; the whole answer once the server closes. The waits keep
// this thread's event loop turning, where the program's own server runs.
QByteArray ask(quint16 port, const QByteArray &request, const QHostAddress &at = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    socket.connectToHost(at, port);
    (void)QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    if (socket.state() != QAbstractSocket::ConnectedState)
        return "refused: " + socket.errorString().toUtf8();
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor([&] { answer += socket.readAll(); return socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    return answer + socket.readAll();
}

QByteArray get(quint16 port, const QByteArray &path, const QByteArray &method = "GET")
{
    return ask(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
}

QByteArray statusOf(const QByteArray &answer)
{
    return answer.left(answer.indexOf("\r\n"));
}

// The server on a thread of its own, so that the test may block on a browser.
struct ServerThread {
    QThread thread;
    SearchPageServer *server = new SearchPageServer;
    quint16 port = 0;
    ServerThread()
    {
        server->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, server, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(server, [&] { port = server->listen(0) ? server->port() : 0; }, Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        thread.quit();
        thread.wait();
    }
};
}

class TestSearchPage : public QObject {
    Q_OBJECT

private slots:
    void addressForQuery_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("address");
        const QString &q = kQuery;
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
        QCOMPARE(statusOf(get(quint16(page.port()), SearchPageServer::kPagePath)), QByteArray("HTTP/1.1 200 OK"));
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

    void servesOnlyThePageAndItsAssetsOnLoopback()
    {
        ServerThread s;
        QVERIFY(s.port);
        const QByteArray page = get(s.port, "/search/search.html");
        QCOMPARE(statusOf(page), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(page.contains("Content-Type: text/html; charset=utf-8\r\n"));
        QVERIFY(page.contains("<meta name=\"generator\" content=\"Rivulet\">"));
        // Without JavaScript (the page as served) it says what to do, and offers no site.
        QVERIFY(page.contains("<noscript>\n    <p class=\"notice\">This page needs JavaScript"));
        QVERIFY(!page.contains("data-site="));
        for (const QByteArray asset : {"/search/search.html?x=1", "/search/search.js", "/search/search.css", "/search/search.svg"})
            QCOMPARE(statusOf(get(s.port, asset)), QByteArray("HTTP/1.1 200 OK"));
        const QByteArray head = get(s.port, "/search/search.html", "HEAD");
        QCOMPARE(statusOf(head), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(head.endsWith("\r\n\r\n"));

        for (const QByteArray path : {"/", "/search/", "/search/../search/search.html", "/search/search.html/",
                                      "/search%2Fsearch.html", "/etc/passwd", "/favicon.ico", "//search/search.html"})
            QCOMPARE(statusOf(get(s.port, path)), QByteArray("HTTP/1.1 404 Not Found"));
        for (const QByteArray method : {"POST", "PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "get"}) {
            const QByteArray answer = get(s.port, "/search/search.html", method);
            QCOMPARE(statusOf(answer), QByteArray("HTTP/1.1 405 Method Not Allowed"));
            QVERIFY(answer.contains("Allow: GET, HEAD\r\n"));
        }
        // Another host name that resolves here (DNS rebinding) gets nothing.
        QCOMPARE(statusOf(ask(s.port, "GET /search/search.html HTTP/1.1\r\nHost: evil.example:" + QByteArray::number(s.port) + "\r\n\r\n")),
                 QByteArray("HTTP/1.1 421 Misdirected Request"));
        QCOMPARE(statusOf(ask(s.port, "GET /search/search.html\r\n\r\n")), QByteArray("HTTP/1.1 400 Bad Request"));
        const QByteArray hostLine = "Host: 127.0.0.1:" + QByteArray::number(s.port) + "\r\n";
        // The header limit holds for the whole header, also sent in one burst.
        for (const QByteArray &end : {QByteArray(), QByteArray("\r\n\r\n")})
            QCOMPARE(statusOf(ask(s.port, "GET /search/search.html HTTP/1.1\r\n" + hostLine + "X: " + QByteArray(9000, 'a') + end)),
                     QByteArray("HTTP/1.1 431 Request Header Fields Too Large"));
        QCOMPARE(statusOf(ask(s.port, "GET /search/search.html HTTP/1.1\r\n" + hostLine + "Host: evil.example\r\n\r\n")),
                 QByteArray("HTTP/1.1 400 Bad Request"));

        // Connections that never send a request do not keep the user's out.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 40; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, s.port);
            QVERIFY(idle.back()->waitForConnected(3000));
            idle.back()->write("GET /search/search.html HTTP/1.1\r\n"); // and never more
            idle.back()->flush();
        }
        QCOMPARE(statusOf(get(s.port, "/search/search.html")), QByteArray("HTTP/1.1 200 OK"));

        // Nothing answers on the other interfaces.
        QList<QHostAddress> others{QHostAddress(QHostAddress::LocalHostIPv6)};
        for (const QHostAddress &a : QNetworkInterface::allAddresses())
            if (!a.isLoopback())
                others << a;
        for (const QHostAddress &a : others) {
            QTcpSocket socket;
            socket.connectToHost(a, s.port);
            QVERIFY2(!socket.waitForConnected(2000), qPrintable(a.toString()));
        }
        // A loopback address other than 127.0.0.1 is not listened on either.
        QVERIFY(ask(s.port, "GET / HTTP/1.1\r\n\r\n", QHostAddress(QStringLiteral("127.0.0.2"))).startsWith("refused"));
    }

    // The program's page listens on a port the kernel picks, whoever holds
    // the port earlier builds fixed; its address is that listener's.
    void pageListensWhereTheKernelPuts()
    {
        QCOMPARE(SearchPageServer().pageUrl(), QUrl());
        QTcpServer fixed; // taken here, or already by someone else
        fixed.listen(QHostAddress::LocalHost, 47231);
        SearchPageServer *server = SearchPageServer::start();
        QVERIFY(server);
        QCOMPARE(SearchPageServer::running(), server);
        QVERIFY(server->port() != 47231);
        QCOMPARE(server->pageUrl(), QUrl(QStringLiteral("http://127.0.0.1:%1/search/search.html").arg(server->port())));
        // That it serves the page there: returnOpensOnlyWebAddresses fetches it.
    }

    // Chromium, at the address the controller hands over, shows the query
    // decoded and offers it escaped to each site. A pick is remembered: the
    // next search goes straight to that site, Back returns to the choice, and
    // "Ask me each time" forgets the pick.
    void chromiumOffersTheQueryAndRemembersThePick()
    {
        QVERIFY2(!chromiumPath().isEmpty(), "chromium is not installed (scripts/packages.d/defaults.list)");
        ServerThread s;
        QVERIFY(s.port);
        const QString location = s.server->pageUrl().toString() + QStringLiteral("#/s/mediafire/");
        DevToolsBrowser browser;
        QVERIFY(browser.ready());
        // The address as the controller hands it over (addressForQuery checks it).
        browser.navigate(QUrl(SearchAddress::forQuery(location, kQuery), QUrl::StrictMode).toString(QUrl::FullyEncoded));
        QVERIFY(browser.waitFor(QStringLiteral("document.readyState === 'complete' && !!document.querySelector('#sites a')"
                                               " && document.getElementById('remembered').hidden && !document.getElementById('choice').hidden")));
        QCOMPARE(browser.evaluate(QStringLiteral("document.getElementById('query').value")).toString(), kQuery); // decoded
        const QString hrefs = QStringLiteral("[...document.querySelectorAll('#sites a[data-site]')].map(a => a.getAttribute('href')).join(' ')");
        QCOMPARE(browser.evaluate(hrefs).toString(), kSiteAddresses.join(QLatin1Char(' ')));
        browser.evaluate(QStringLiteral("document.querySelector('a[data-site=jamendo]').click()"));
        QVERIFY(browser.waitFor(QStringLiteral("location.host === 'www.jamendo.com'")));
        QCOMPARE(browser.outsideRequests, QStringList{QStringLiteral("https://www.jamendo.com/search?q=") + kValue});

        // Back: the choice again, not a second trip to the site.
        browser.evaluate(QStringLiteral("history.back()"));
        QVERIFY(browser.waitFor(QStringLiteral("location.host.startsWith('127.0.0.1') && document.readyState === 'complete'"
                                               " && !document.getElementById('choice').hidden")));
        browser.idle(500);
        QCOMPARE(browser.outsideRequests.size(), 1);
        QCOMPARE(browser.evaluate(QStringLiteral("document.getElementById('remembered-site').textContent")).toString(), QStringLiteral("Jamendo"));

        // The next search goes there directly.
        browser.navigate(location + QStringLiteral("second%20song"));
        QVERIFY(browser.waitFor(QStringLiteral("location.host === 'www.jamendo.com'")));
        QCOMPARE(browser.outsideRequests.last(), QStringLiteral("https://www.jamendo.com/search?q=second%20song"));

        // Back, then "Ask me each time": the next search shows the choice.
        browser.evaluate(QStringLiteral("history.back()"));
        QVERIFY(browser.waitFor(QStringLiteral("location.host.startsWith('127.0.0.1') && !document.getElementById('choice').hidden")));
        browser.evaluate(QStringLiteral("document.getElementById('forget').click()"));
        QVERIFY(browser.evaluate(QStringLiteral("localStorage.getItem('rivulet.search.site') === null")).toBool());
        browser.navigate(location + QStringLiteral("third"));
        QVERIFY(browser.waitFor(QStringLiteral("location.hash.endsWith('third') && document.readyState === 'complete'"
                                               " && !document.getElementById('choice').hidden")));
        browser.idle(500);
        QCOMPARE(browser.outsideRequests.size(), 2);
        QCOMPARE(browser.evaluate(QStringLiteral("document.getElementById('query').value")).toString(), QStringLiteral("third"));
    }
};

QTEST_MAIN(TestSearchPage)
#include "test_search_page.moc"
