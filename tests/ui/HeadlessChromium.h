#pragma once
// Headless Chromium through DevTools over --remote-debugging-pipe (NUL-separated JSON on fds 3
// and 4); https requests get a stand-in page, since the tests have no internet.
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

using namespace Qt::StringLiterals;

inline QString chromiumPath() { return QStandardPaths::findExecutable(u"chromium"_s); }

class DevToolsBrowser {
public:
    DevToolsBrowser()
    {
        int toBrowser[2], fromBrowser[2];
        if (pipe2(toBrowser, O_CLOEXEC) || pipe2(fromBrowser, O_CLOEXEC))
            return;
        for (int *fd : {&toBrowser[0], &fromBrowser[1]}) { // the child's ends clear of 3 and 4, where they are put
            const int high = fcntl(*fd, F_DUPFD_CLOEXEC, 10);
            ::close(*fd);
            *fd = high;
        }
        m_process.setChildProcessModifier([toBrowser, fromBrowser] { dup2(toBrowser[0], 3), dup2(fromBrowser[1], 4); });
        m_process.setStandardErrorFile(QProcess::nullDevice());
        // --no-sandbox: the tests run as root, where Chromium refuses its sandbox.
        m_process.start(chromiumPath(), {u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--no-first-run"_s,
                                         u"--user-data-dir="_s + m_profile.path(), u"--remote-debugging-pipe"_s, u"about:blank"_s});
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);
        m_out = toBrowser[1];
        m_in = fromBrowser[0];
        if (!m_process.waitForStarted())
            return;
        for (const QJsonValue &t : call(u"Target.getTargets"_s, {}, false)["targetInfos"_L1].toArray())
            if (t["type"_L1] == "page"_L1) {
                m_session = call(u"Target.attachToTarget"_s, {{"targetId"_L1, t["targetId"_L1]}, {"flatten"_L1, true}}, false)["sessionId"_L1].toString();
                break;
            }
        call(u"Fetch.enable"_s, {{"patterns"_L1, QJsonArray{QJsonObject{{"urlPattern"_L1, u"https://*"_s}}}}});
    }
    ~DevToolsBrowser()
    {
        ::close(m_out);
        ::close(m_in);
        m_process.kill();
        m_process.waitForFinished();
    }
    bool ready() const { return !m_session.isEmpty(); }
    // The https pages the browser went to.
    QStringList outsideRequests;

    void navigate(const QString &url) { call(u"Page.navigate"_s, {{"url"_L1, url}}); }
    QJsonValue evaluate(const QString &script)
    {
        return call(u"Runtime.evaluate"_s, {{"expression"_L1, script}, {"returnByValue"_L1, true}})["result"_L1]["value"_L1];
    }
    // Serves requests until the script yields true.
    bool waitFor(const QString &script, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        for (; clock.elapsed() < timeoutMs; QThread::msleep(50))
            if (evaluate(script).toBool())
                return true;
        return false;
    }
    void idle(int ms) { waitFor(u"false"_s, ms); }

private:
    QJsonObject call(const QString &method, const QJsonObject &params, bool inSession = true)
    {
        const int id = send(method, params, inSession);
        for (QJsonObject in; !(in = receive()).isEmpty();) {
            if (in["id"_L1].toInt() == id)
                return in["result"_L1].toObject();
            if (in["method"_L1] != "Fetch.requestPaused"_L1)
                continue;
            const QJsonObject paused = in["params"_L1].toObject();
            if (paused["resourceType"_L1] == "Document"_L1)
                outsideRequests << paused["request"_L1]["url"_L1].toString();
            send(u"Fetch.fulfillRequest"_s, {{"requestId"_L1, paused["requestId"_L1]}, {"responseCode"_L1, 200},
                                            {"body"_L1, QString::fromLatin1(QByteArray("<title>stand-in</title>").toBase64())}});
        }
        return {};
    }
    int send(const QString &method, const QJsonObject &params, bool inSession = true)
    {
        QJsonObject message{{"id"_L1, ++m_lastId}, {"method"_L1, method}, {"params"_L1, params}};
        if (inSession)
            message["sessionId"_L1] = m_session;
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

    QTemporaryDir m_profile;
    QProcess m_process;
    int m_out = -1, m_in = -1, m_lastId = 0;
    QString m_session;
    QByteArray m_buffer;
};
