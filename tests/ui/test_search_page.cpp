// The music search: the address, Return in the controller, the page's server, the page in Chromium.
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "HeadlessChromium.h"
#include "support/StartedApp.h"
#include "settings/Settings.h"
#include "ui/SearchAddress.h"
#include "ui/SearchField.h"
#include "ui/SearchPageServer.h"
#include <QDesktopServices>
#include <QNetworkInterface>
#include <QTcpSocket>

namespace {
const QString kQuery = u"blue moon & co/é"_s;
const QString kValue = u"blue%20moon%20%26%20co%2F%C3%A9"_s; // the query as one escaped value

// One raw request; the answer's status line. The wait for it turns this thread's loop, where a server may run.
QByteArray ask(quint16 port, const QByteArray &request, QByteArray *whole = nullptr, const QHostAddress &at = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    socket.connectToHost(at, port);
    if (!socket.waitForConnected(10000))
        return "refused";
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor([&] { answer += socket.readAll(); return socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    answer += socket.readAll();
    if (whole)
        *whole = answer;
    return answer.left(answer.indexOf("\r\n"));
}

QByteArray get(quint16 port, const QByteArray &path, const QByteArray &method = "GET", QByteArray *whole = nullptr)
{
    return ask(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n", whole);
}

// On a thread of its own, so that the test may block on a browser.
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
        const auto row = [](const char *name, const char *location, const QString &query, const char *address) {
            QTest::newRow(name) << QString::fromUtf8(location) << query << QString::fromUtf8(address);
        };
        row("%s in the path", "https://example.org/tag/%s/", u"a=b?"_s, "https://example.org/tag/a%3Db%3F/");
        row("every %s", "https://example.org/?a=%s&b=%s", u"x y"_s, "https://example.org/?a=x%20y&b=x%20y");
        row("a query holding %s stays a query", "https://example.org/?q=%s", u"%s"_s, "https://example.org/?q=%25s");
        row("empty query at %s", "https://example.org/?q=%s", QString(), "https://example.org/?q=");
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
        QTest::addColumn<QString>("because"); // empty: accepted
        const auto row = [](const char *location, const char *because) { QTest::newRow(location) << QString::fromLatin1(location) << QString::fromLatin1(because); };
        row("http://127.0.0.1:47231/search/search.html#/s/mediafire/", "");
        row("https://example.org/?q=%s", "");
        row("HTTPS://example.org/", "");
        for (const char *other : {"file:///etc/passwd#", "javascript:alert(1)//", "ftp://example.org/%s"})
            row(other, "not an http or https address");
        for (const char *invalid : {"example.org/search?q=", "https://example.org/%zz", "https://exa mple.org/"})
            row(invalid, "not a valid web address");
        row("https:///path", "names no web site");
        row(" ", "is empty");
    }
    void onlyWebAddressesPass()
    {
        QFETCH(QString, location);
        QFETCH(QString, because);
        const QString problem = SearchAddress::problem(location);
        QVERIFY2(because.isEmpty() ? problem.isEmpty() : problem.contains(because), qPrintable(problem));
    }

    // The default, also as earlier versions stored it, moves to this run's listener; others stay.
    void builtInPageIsThisRunsPage_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("atPage");
        QTest::addColumn<QString>("notServed");
        const QString page = u"http://127.0.0.1:40001/search/search.html"_s;
        QTest::newRow("an earlier version's") << u"http://127.0.0.1:47231/search/search.html#/s/mediafire/"_s
                                              << page + u"#/s/mediafire/"_s << QString();
        QTest::newRow("no fragment") << u"http://127.0.0.1:47231/search/search.html"_s << page << QString();
        for (const char *other : {"http://127.0.0.1:47232/search/search.html#/s/mediafire/", "https://127.0.0.1:47231/search/search.html",
                                  "http://localhost:47231/search/search.html", "http://127.0.0.1:47231/search/search.html?q=",
                                  "https://example.org/?q=%s"})
            QTest::newRow(other) << QString::fromLatin1(other) << QString::fromLatin1(other) << QString::fromLatin1(other);
    }
    void builtInPageIsThisRunsPage()
    {
        QFETCH(QString, location);
        QTEST(SearchAddress::onThisRunsPage(location, QUrl(u"http://127.0.0.1:40001/search/search.html"_s)), "atPage");
        QTEST(SearchAddress::onThisRunsPage(location, QUrl()), "notServed");
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
        QCOMPARE(get(quint16(page.port()), SearchPageServer::kPagePath), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(!log.lines().join(QLatin1Char('\n')).contains(u"moon"_s));
    }

    // A location of the user's own: %s filled in; not a web address: an alert.
    void returnOpensOnlyWebAddresses()
    {
        StartedApp started(true);
        Rivulet_AppDelegate &app = *started.app;
        SearchField *field = nullptr;
        QTRY_VERIFY((field = app.searchField())); // once the interface is built
        OpenedUrls opened;
        const QStringList schemes{u"http"_s, u"https"_s, u"file"_s, u"ftp"_s};
        for (const QString &scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, &opened, "open");
        AlertCatcher alerts;
        field->setText(u"blue moon & co"_s);
        Settings::setSearchLocation(u"https://example.org/search?q=%s&kind=music"_s);
        app.controlTextViewDoCommandBySelector(field, u"insertNewline:"_s);
        QCOMPARE(opened.urls.size(), 1);
        QCOMPARE(opened.urls[0].toString(QUrl::FullyEncoded), u"https://example.org/search?q=blue%20moon%20%26%20co&kind=music"_s);
        QVERIFY(alerts.seen.isEmpty());
        for (const QString &location : {u"file:///etc/"_s, u"ftp://example.org/%s"_s, u"not a url %s"_s}) {
            Settings::setSearchLocation(location);
            app.controlTextViewDoCommandBySelector(field, u"insertNewline:"_s);
            QCOMPARE(opened.urls.size(), 1);
            QTRY_COMPARE(alerts.seen.size(), 1);
            QVERIFY2(alerts.seen.takeFirst().startsWith(u"The music search cannot be opened.|“"_s + location), qPrintable(location));
        }
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void servesOnlyThePageAndItsAssetsOnLoopback()
    {
        ServerThread s;
        QVERIFY(s.port);
        QByteArray page;
        QCOMPARE(get(s.port, "/search/search.html", "GET", &page), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(page.contains("Content-Type: text/html; charset=utf-8\r\n") && page.contains("<meta name=\"generator\" content=\"Rivulet\">"));
        // Without JavaScript it says what to do, and offers no site.
        QVERIFY(page.contains("<noscript>\n    <p class=\"notice\">This page needs JavaScript") && !page.contains("data-site="));
        for (const QByteArray asset : {"/search/search.html?x=1", "/search/search.js", "/search/search.css", "/search/search.svg"})
            QCOMPARE(get(s.port, asset), QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(get(s.port, "/search/search.html", "HEAD", &page), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(page.endsWith("\r\n\r\n"));
        for (const QByteArray path : {"/", "/search/", "/search/../search/search.html", "/search/search.html/",
                                      "/search%2Fsearch.html", "/etc/passwd", "/favicon.ico", "//search/search.html"})
            QCOMPARE(get(s.port, path), QByteArray("HTTP/1.1 404 Not Found"));
        for (const QByteArray method : {"POST", "PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "get"}) {
            QCOMPARE(get(s.port, "/search/search.html", method, &page), QByteArray("HTTP/1.1 405 Method Not Allowed"));
            QVERIFY(page.contains("Allow: GET, HEAD\r\n"));
        }
        const QByteArray request = "GET /search/search.html HTTP/1.1\r\n", host = "Host: 127.0.0.1:" + QByteArray::number(s.port) + "\r\n";
        // DNS rebinding: another host name that resolves here gets nothing.
        QCOMPARE(ask(s.port, request + "Host: evil.example:" + QByteArray::number(s.port) + "\r\n\r\n"), QByteArray("HTTP/1.1 421 Misdirected Request"));
        QCOMPARE(ask(s.port, request + host + "Host: evil.example\r\n\r\n"), QByteArray("HTTP/1.1 400 Bad Request"));
        QCOMPARE(ask(s.port, "GET /search/search.html\r\n\r\n"), QByteArray("HTTP/1.1 400 Bad Request"));
        // The limit holds for the whole header, also sent in one burst.
        for (const QByteArray &end : {QByteArray(), QByteArray("\r\n\r\n")})
            QCOMPARE(ask(s.port, request + host + "X: " + QByteArray(9000, 'a') + end), QByteArray("HTTP/1.1 431 Request Header Fields Too Large"));

        // Connections that never finish a request do not keep the user's out.
        std::array<QTcpSocket, 40> idle;
        for (QTcpSocket &c : idle) {
            c.connectToHost(QHostAddress::LocalHost, s.port);
            QVERIFY(c.waitForConnected(10000));
            c.write(request);
            c.flush();
        }
        QCOMPARE(get(s.port, "/search/search.html"), QByteArray("HTTP/1.1 200 OK"));

        // Nothing answers on the other interfaces, 127.0.0.2 included.
        QList<QHostAddress> others{QHostAddress(QHostAddress::LocalHostIPv6), QHostAddress(u"127.0.0.2"_s)};
        for (const QHostAddress &a : QNetworkInterface::allAddresses())
            if (!a.isLoopback())
                others << a;
        for (const QHostAddress &a : others)
            QVERIFY2(ask(s.port, "GET / HTTP/1.1\r\n\r\n", nullptr, a) == "refused", qPrintable(a.toString()));
    }

    // The query shown decoded, offered escaped to each site; a pick is remembered until "Ask me each time".
    void chromiumOffersTheQueryAndRemembersThePick()
    {
        QVERIFY2(!chromiumPath().isEmpty(), "chromium is not installed (scripts/packages.d/defaults.list)");
        ServerThread s;
        QVERIFY(s.port);
        const QString location = s.server->pageUrl().toString() + u"#/s/mediafire/"_s;
        DevToolsBrowser browser;
        QVERIFY(browser.ready());
        const auto choiceShown = [&](const char *also) {
            return browser.waitFor(u"%1 && document.readyState === 'complete' && !document.getElementById('choice').hidden"_s.arg(QLatin1String(also)));
        };
        browser.navigate(QUrl(SearchAddress::forQuery(location, kQuery), QUrl::StrictMode).toString(QUrl::FullyEncoded));
        QVERIFY(choiceShown("!!document.querySelector('#sites a') && document.getElementById('remembered').hidden"));
        QCOMPARE(browser.evaluate(u"document.getElementById('query').value"_s).toString(), kQuery); // decoded
        // Every site is offered the query as one escaped value, over https.
        const QString offered = u"[...document.querySelectorAll('#sites a[data-site]')]"
                                u".every(a => a.href.startsWith('https://') && a.href.includes('%1'))"_s;
        QVERIFY(browser.evaluate(offered.arg(kValue)).toBool());
        browser.evaluate(u"document.querySelector('a[data-site=jamendo]').click()"_s);
        QVERIFY(browser.waitFor(u"location.host === 'www.jamendo.com'"_s));
        QCOMPARE(browser.outsideRequests, QStringList{u"https://www.jamendo.com/search?q="_s + kValue});

        // Back: the choice again, not a second trip.
        browser.evaluate(u"history.back()"_s);
        QVERIFY(choiceShown("location.host.startsWith('127.0.0.1')"));
        browser.idle(500);
        QCOMPARE(browser.outsideRequests.size(), 1);
        QCOMPARE(browser.evaluate(u"document.getElementById('remembered-site').textContent"_s).toString(), u"Jamendo"_s);

        browser.navigate(location + u"second%20song"_s);
        QVERIFY(browser.waitFor(u"location.host === 'www.jamendo.com'"_s)); // directly
        QCOMPARE(browser.outsideRequests.last(), u"https://www.jamendo.com/search?q=second%20song"_s);

        browser.evaluate(u"history.back()"_s);
        QVERIFY(choiceShown("location.host.startsWith('127.0.0.1')"));
        browser.evaluate(u"document.getElementById('forget').click()"_s);
        QVERIFY(browser.evaluate(u"localStorage.getItem('rivulet.search.site') === null"_s).toBool());
        browser.navigate(location + u"third"_s);
        QVERIFY(choiceShown("location.hash.endsWith('third')"));
        browser.idle(500);
        QCOMPARE(browser.outsideRequests.size(), 2);
        QCOMPARE(browser.evaluate(u"document.getElementById('query').value"_s).toString(), u"third"_s);
    }
};

QTEST_MAIN(TestSearchPage)
#include "test_search_page.moc"
