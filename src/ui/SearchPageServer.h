#pragma once
// Serves the built-in music search page on 127.0.0.1 while the interface
// runs. It answers GET and HEAD of the page and its assets only; the query
// stays in the address's fragment, which browsers never send, so nothing of
// it reaches this server.
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

class SearchPageServer : public QObject {
    Q_OBJECT
public:
    // The path of the page; the default search location is this address
    // followed by "#/s/mediafire/".
    static constexpr const char *kPagePath = "/search/search.html";

    explicit SearchPageServer(QObject *parent = nullptr);
    // Starts the program's one server, on a port the kernel picks (a fixed
    // port would be whichever account's took it first), and logs the
    // outcome. Returns it, or null when it cannot listen.
    static SearchPageServer *start();
    // The server start() made, or null.
    static SearchPageServer *running();
    // Listens on 127.0.0.1 at port (0: a free port the kernel picks); logs
    // and returns false when it cannot.
    bool listen(quint16 port);
    quint16 port() const;
    // This listener's address of the page, "http://127.0.0.1:<port>/search/search.html";
    // empty when not listening.
    QUrl pageUrl() const;

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &reply);
    void respond(QTcpSocket *socket, const QByteArray &method, const QByteArray &target, const QByteArray &host);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<QTcpSocket *> m_oldestFirst; // the pending ones, in the order they came
};
