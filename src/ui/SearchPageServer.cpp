#include "ui/SearchPageServer.h"
#include "base/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

#ifndef RIVULET_SEARCH_PORT
#define RIVULET_SEARCH_PORT 47231
#endif

namespace {
constexpr int kMaxHeaderBytes = 8192;
constexpr int kRequestTimeoutMs = 5000;
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

bool SearchPageServer::start()
{
    static QPointer<SearchPageServer> running;
    if (running)
        return true;
    auto *server = new SearchPageServer(QCoreApplication::instance());
    if (!server->listen(RIVULET_SEARCH_PORT))
        return false;
    running = server;
    return true;
}

QString SearchPageServer::searchLocation(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1%2#/s/mediafire/").arg(port).arg(QLatin1String(kPagePath));
}

quint16 SearchPageServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

bool SearchPageServer::listen(quint16 port)
{
    m_server = new QTcpServer(this);
    m_server->setMaxPendingConnections(kMaxConnections);
    // Loopback only: the page is for this machine's browser, no one else's.
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        const bool taken = m_server->serverError() == QAbstractSocket::AddressInUseError;
        const QString reason = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        if (taken)
            explainTakenPort(port);
        else
            Log::f("Music search page not served: cannot listen on 127.0.0.1:%@ (%@)", QString::number(port), reason);
        return false;
    }
    connect(m_server, &QTcpServer::newConnection, this, &SearchPageServer::accept);
    Log::f("Music search page at %@", searchLocation(m_server->serverPort()));
    return true;
}

// Another copy of the program (of this or another user) serves the same
// page; anything else on the port means the default search cannot work.
void SearchPageServer::explainTakenPort(quint16 port)
{
    auto *probe = new QTcpSocket(this);
    auto answer = std::make_shared<QByteArray>();
    // Runs once: on the end of the answer, an error, or the time limit.
    auto finish = [probe, answer, port] {
        if (probe->property("done").toBool())
            return;
        probe->setProperty("done", true);
        if (answer->contains("\r\nServer: Rivulet/") && answer->contains("<meta name=\"generator\" content=\"Rivulet\""))
            Log::f("Music search page already served on 127.0.0.1:%@ by another Rivulet", QString::number(port));
        else
            Log::f("Music search page not served: port %@ on 127.0.0.1 is taken by another program, so the default music search will not work; set a search address in the preferences",
                   QString::number(port));
        probe->deleteLater();
    };
    connect(probe, &QTcpSocket::connected, probe, [probe, port] {
        probe->write("GET " + QByteArray(kPagePath) + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                     "\r\nConnection: close\r\n\r\n");
    });
    connect(probe, &QTcpSocket::readyRead, probe, [probe, answer] { *answer += probe->readAll(); });
    connect(probe, &QTcpSocket::disconnected, probe, finish);
    connect(probe, &QTcpSocket::errorOccurred, probe, finish);
    QTimer::singleShot(kRequestTimeoutMs, probe, finish);
    probe->connectToHost(QHostAddress::LocalHost, port);
}

void SearchPageServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_pending.size() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        // A client that never finishes its request is dropped.
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

void SearchPageServer::readRequest(QTcpSocket *socket)
{
    auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    *it += socket->readAll();
    const int end = int(it->indexOf("\r\n\r\n"));
    if (end < 0) {
        if (it->size() > kMaxHeaderBytes) {
            socket->write(response("431 Request Header Fields Too Large", "text/plain", "Request too large\n", true));
            socket->disconnectFromHost();
            m_pending.remove(socket);
        }
        return;
    }
    const QList<QByteArray> lines = it->left(end).split('\n');
    m_pending.erase(it);
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    QByteArray host;
    for (const QByteArray &line : lines.mid(1)) {
        const int colon = int(line.indexOf(':'));
        if (colon > 0 && line.left(colon).trimmed().toLower() == "host")
            host = line.mid(colon + 1).trimmed();
    }
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        socket->write(response("400 Bad Request", "text/plain", "Bad request\n", true));
    } else {
        respond(socket, requestLine[0], requestLine[1], host);
    }
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
