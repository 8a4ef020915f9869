#pragma once
// Serves the built-in music search page on 127.0.0.1 while the interface
// runs. It answers GET and HEAD of the page and its assets only; the query
// stays in the address's fragment, which browsers never send, so nothing of
// it reaches this server.
#include <QHash>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

class SearchPageServer : public QObject {
    Q_OBJECT
public:
    // The path of the page; the default search location is this address
    // followed by "#/s/mediafire/".
    static constexpr const char *kPagePath = "/search/search.html";

    explicit SearchPageServer(QObject *parent = nullptr);
    // Starts the program's one server on the port fixed at build time and
    // logs the outcome. Returns whether it listens.
    static bool start();
    // Listens on 127.0.0.1 at port (0: any free port); logs and returns false
    // when it cannot.
    bool listen(quint16 port);
    quint16 port() const;
    // "http://127.0.0.1:<port>/search/search.html#/s/mediafire/"
    static QString searchLocation(quint16 port);

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const QByteArray &method, const QByteArray &target, const QByteArray &host);
    void explainTakenPort(quint16 port);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
