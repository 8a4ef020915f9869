#include "ui/SearchPageServer.h"
#include "base/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int kMaxHeaderBytes = 8192;
constexpr int kRequestTimeoutMs = 5000;
// Past this many unfinished requests the oldest is dropped for the newest: a
// local process holding idle connections cannot keep the user's browser out.
constexpr int kMaxConnections = 16;
const QByteArray kServerName = QByteArrayLiteral("Rivulet/" RIVULET_VERSION);

struct Asset {
    const char *path;
    const char *resource;
    const char *type;
};
const Asset kAssets[] = {
    {"/search/search.html", ":/search/search.html", "text/html; charset=utf-8"},
    {"/search/search.css", ":/search/search.css", "text/css; charset=utf-8"},
    {"/search/search.js", ":/search/search.js", "text/javascript; charset=utf-8"},
    {"/search/search.svg", ":/search/search.svg", "image/svg+xml"},
};

QByteArray response(const QByteArray &status, const QByteArray &type, const QByteArray &body, bool withBody,
                    const QByteArray &extra = {})
{
    QByteArray out = "HTTP/1.1 " + status + "\r\n"
                     "Server: " + kServerName + "\r\n"
                     "Content-Type: " + type + "\r\n"
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
                     "Cache-Control: no-cache\r\n"
                     "X-Content-Type-Options: nosniff\r\n"
                     "Referrer-Policy: no-referrer\r\n"
                     "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                     "frame-ancestors 'none'; base-uri 'none'; form-action 'none'\r\n"
                     "Connection: close\r\n" + extra + "\r\n";
    if (withBody)
        out += body;
    return out;
}
}

// The page is compiled into the static core library, which must register it.
static void initSearchResources() { Q_INIT_RESOURCE(search); }

SearchPageServer::SearchPageServer(QObject *parent) : QObject(parent)
{
    initSearchResources();
}

static QPointer<SearchPageServer> s_running;

SearchPageServer *SearchPageServer::start()
{
    if (s_running)
        return s_running;
    auto *server = new SearchPageServer(QCoreApplication::instance());
    if (!server->listen(0)) {
        delete server;
        return nullptr;
    }
    s_running = server;
    return server;
}

SearchPageServer *SearchPageServer::running()
{
    return s_running;
}

quint16 SearchPageServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QUrl SearchPageServer::pageUrl() const
{
    if (!m_server)
        return {};
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(QLatin1String(kPagePath)));
}

bool SearchPageServer::listen(quint16 port)
{
    m_server = new QTcpServer(this);
    // Loopback only: the page is for this machine's browser, no one else's.
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        Log::f("Music search page not served: cannot listen on 127.0.0.1:%@ (%@)", QString::number(port), m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QTcpServer::newConnection, this, &SearchPageServer::accept);
    Log::f("Music search page at %@", pageUrl().toString());
    return true;
}

void SearchPageServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_pending.size() >= kMaxConnections) {
            QTcpSocket *oldest = m_oldestFirst.takeFirst();
            m_pending.remove(oldest);
            oldest->abort();
            oldest->deleteLater();
        }
        m_pending.insert(socket, {});
        m_oldestFirst << socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            m_oldestFirst.removeOne(socket);
            socket->deleteLater();
        });
        // A client that never finishes its request is dropped.
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

// Answers and closes; the socket no longer counts as pending.
void SearchPageServer::answer(QTcpSocket *socket, const QByteArray &reply)
{
    m_pending.remove(socket);
    m_oldestFirst.removeOne(socket);
    if (!reply.isEmpty())
        socket->write(reply);
    socket->disconnectFromHost();
}

void SearchPageServer::readRequest(QTcpSocket *socket)
{
    auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    *it += socket->readAll();
    const qsizetype end = it->indexOf("\r\n\r\n");
    // The limit is on the whole header, however it arrives.
    if ((end < 0 && it->size() > kMaxHeaderBytes) || end + 4 > kMaxHeaderBytes) {
        answer(socket, response("431 Request Header Fields Too Large", "text/plain", "Request too large\n", true));
        return;
    }
    if (end < 0)
        return;
    const QList<QByteArray> lines = it->left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    QList<QByteArray> hosts;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "host")
            hosts << line.mid(colon + 1).trimmed();
    }
    // Two Host lines: which one a proxy on the way believed is unknown.
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.") || hosts.size() > 1) {
        answer(socket, response("400 Bad Request", "text/plain", "Bad request\n", true));
        return;
    }
    m_pending.remove(socket);
    m_oldestFirst.removeOne(socket);
    respond(socket, requestLine[0], requestLine[1], hosts.value(0));
    socket->disconnectFromHost();
}

void SearchPageServer::respond(QTcpSocket *socket, const QByteArray &method, const QByteArray &target, const QByteArray &host)
{
    const bool head = method == "HEAD";
    if (method != "GET" && !head) {
        socket->write(response("405 Method Not Allowed", "text/plain", "Only GET and HEAD\n", true, "Allow: GET, HEAD\r\n"));
        return;
    }
    // A page reached under another host name (a rebinding DNS name, say) is
    // not ours to serve.
    const QByteArray ownHost = "127.0.0.1:" + QByteArray::number(port());
    if (host != ownHost && !(host == "127.0.0.1" && port() == 80)) {
        socket->write(response("421 Misdirected Request", "text/plain", "Wrong host\n", !head));
        return;
    }
    const qsizetype queryStart = target.indexOf('?');
    const QByteArray path = queryStart < 0 ? target : target.first(queryStart);
    for (const Asset &asset : kAssets) {
        if (path != asset.path)
            continue;
        QFile file(QString::fromLatin1(asset.resource));
        if (!file.open(QIODevice::ReadOnly))
            break;
        socket->write(response("200 OK", asset.type, file.readAll(), !head));
        return;
    }
    socket->write(response("404 Not Found", "text/plain", "Not found\n", !head));
}
