#pragma once
// Debian's headless Chromium for testing web pages: a small DevTools client
// over --remote-debugging-pipe (NUL-separated JSON on file descriptors 3 and
// 4) that can evaluate script and answer requests to other sites with a
// stand-in page, since the tests have no internet.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

inline QString chromiumPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

class DevToolsBrowser {
public:
    DevToolsBrowser()
    {
        int toBrowser[2], fromBrowser[2];
        if (pipe2(toBrowser, O_CLOEXEC) || pipe2(fromBrowser, O_CLOEXEC))
            return;
        // Keep the child's ends clear of 3 and 4, where they are put.
        for (int *fd : {&toBrowser[0], &fromBrowser[1]}) {
            const int high = fcntl(*fd, F_DUPFD_CLOEXEC, 10);
            ::close(*fd);
            *fd = high;
        }
        m_process.setChildProcessModifier([toBrowser, fromBrowser] {
            dup2(toBrowser[0], 3);
            dup2(fromBrowser[1], 4);
        });
        m_process.setStandardErrorFile(QProcess::nullDevice());
        // --no-sandbox: the tests run as root, where Chromium refuses its sandbox.
        m_process.start(chromiumPath(), {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                                         QStringLiteral("--no-first-run"), QStringLiteral("--user-data-dir=") + m_profile.path(),
                                         QStringLiteral("--remote-debugging-pipe"), QStringLiteral("about:blank")});
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);
        m_out = toBrowser[1];
        m_in = fromBrowser[0];
        if (!m_process.waitForStarted())
            return;
        const QJsonArray targets = call(QStringLiteral("Target.getTargets"), {}, false)[QStringLiteral("targetInfos")].toArray();
        for (const QJsonValue &t : targets)
            if (t[QStringLiteral("type")] == QLatin1String("page")) {
                m_session = call(QStringLiteral("Target.attachToTarget"),
                                 {{QStringLiteral("targetId"), t[QStringLiteral("targetId")]}, {QStringLiteral("flatten"), true}}, false)
                                [QStringLiteral("sessionId")].toString();
                break;
            }
        call(QStringLiteral("Fetch.enable"), {{QStringLiteral("patterns"), QJsonArray{QJsonObject{{QStringLiteral("urlPattern"), QStringLiteral("https://*")}}}}});
    }
    ~DevToolsBrowser()
    {
        ::close(m_out);
        ::close(m_in);
        m_process.kill();
        m_process.waitForFinished();
    }
    bool ready() const { return !m_session.isEmpty(); }
    // The https pages the browser went to; every https request is answered
    // with a stand-in page.
    QStringList outsideRequests;

    void navigate(const QString &url) { call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}); }

    QJsonValue evaluate(const QString &script)
    {
        const QJsonObject r = call(QStringLiteral("Runtime.evaluate"),
                                   {{QStringLiteral("expression"), script}, {QStringLiteral("returnByValue"), true}});
        return r[QStringLiteral("result")][QStringLiteral("value")];
    }

    // Waits (serving requests meanwhile) until the script yields true.
    bool waitFor(const QString &script, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (evaluate(script).toBool())
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    // Lets the browser run for a while, serving requests.
    void idle(int ms) { waitFor(QStringLiteral("false"), ms); }
    QJsonObject call(const QString &method, const QJsonObject &params, bool inSession = true)
    {
        const int id = send(method, params, inSession);
        for (;;) {
            const QJsonObject in = receive();
            if (in.isEmpty())
                return {};
            if (in[QStringLiteral("id")].toInt() == id)
                return in[QStringLiteral("result")].toObject();
            if (in[QStringLiteral("method")] != QLatin1String("Fetch.requestPaused"))
                continue;
            const QJsonObject paused = in[QStringLiteral("params")].toObject();
            if (paused[QStringLiteral("resourceType")] == QLatin1String("Document"))
                outsideRequests << paused[QStringLiteral("request")][QStringLiteral("url")].toString();
            send(QStringLiteral("Fetch.fulfillRequest"), {{QStringLiteral("requestId"), paused[QStringLiteral("requestId")]},
                                                          {QStringLiteral("responseCode"), 200},
                                                          {QStringLiteral("body"), QString::fromLatin1(QByteArray("<title>stand-in</title>").toBase64())}});
        }
    }

    int send(const QString &method, const QJsonObject &params, bool inSession = true)
    {
        QJsonObject message{{QStringLiteral("id"), ++m_lastId}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
        if (inSession)
            message[QStringLiteral("sessionId")] = m_session;
        const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
        for (qsizetype done = 0, n = 0; done < bytes.size(); done += n)
            if ((n = ::write(m_out, bytes.constData() + done, size_t(bytes.size() - done))) <= 0)
                break;
        return m_lastId;
    }

    QJsonObject receive()
    {
        qsizetype end;
        while ((end = m_buffer.indexOf('\0')) < 0) {
            pollfd p{m_in, POLLIN, 0};
            char chunk[65536];
            const ssize_t n = ::poll(&p, 1, 20000) > 0 ? ::read(m_in, chunk, sizeof chunk) : 0;
            if (n <= 0)
                return {};
            m_buffer.append(chunk, n);
        }
        const QByteArray one = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        return QJsonDocument::fromJson(one).object();
    }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    int m_out = -1, m_in = -1, m_lastId = 0;
    QString m_session;
    QByteArray m_buffer;
};
