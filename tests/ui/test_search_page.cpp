// The built-in music search page: the loopback server answers only GET and
// HEAD of the page and its assets on 127.0.0.1, and the page, opened by a
// real headless Chromium at the address a search makes, shows the query
// and offers it to the music sites.
#include "TestSupport.h"
#include "HeadlessChromium.h"
#include "ui/SearchAddress.h"
#include "ui/SearchPageServer.h"
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

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

// One raw request; the whole answer once the server closes.
QByteArray ask(quint16 port, const QByteArray &request, const QHostAddress &at = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    socket.connectToHost(at, port);
    if (!socket.waitForConnected(3000))
        return "refused: " + socket.errorString().toUtf8();
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(3000))
        answer += socket.readAll();
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
        // That it serves the page there: the search address tests fetch it.
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
        // The address as the controller hands it over (the search address tests check the hand-over).
        browser.navigate(QUrl(SearchAddress::forQuery(location, kQuery), QUrl::StrictMode).toString(QUrl::FullyEncoded));
        QVERIFY(browser.waitFor(QStringLiteral("document.readyState === 'complete' && !!document.querySelector('#sites a')")));
        QVERIFY(browser.evaluate(QStringLiteral("document.getElementById('remembered').hidden")).toBool());
        QVERIFY(!browser.evaluate(QStringLiteral("document.getElementById('choice').hidden")).toBool());
        QCOMPARE(browser.evaluate(QStringLiteral("document.getElementById('query').value")).toString(), kQuery); // decoded
        QStringList hrefs;
        for (const QJsonValue &href : browser.evaluate(QStringLiteral("[...document.querySelectorAll('#sites a[data-site]')].map(a => a.getAttribute('href'))")).toArray())
            hrefs << href.toString();
        QCOMPARE(hrefs, kSiteAddresses);
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
