#pragma once
// The desktop's media controls (MPRIS 2) for the MPD the program started:
// org.mpris.MediaPlayer2.rivulet on the session bus, so media keys, the
// desktop's media widgets and playerctl show and steer what it plays.
//
// A thread of its own holds a connection to the server and waits in its
// `idle` for player changes; it also runs the commands the bus sends. The
// bus side (interface thread) only reads a copy of the last state, taken
// under a lock that is never held across an exchange with the server.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

class MprisPlayer : public QObject {
    Q_OBJECT

public:
    // Starts the controls for the private MPD of the music library, once per
    // run; lives until the application object goes. The name is on the bus
    // only while that server answers.
    static void start();
    // The same for the server at socket, owned by parent (tests).
    static MprisPlayer *startFor(const QByteArray &socket, QObject *parent);
    ~MprisPlayer() override;

    enum class Command { Play, Pause, PlayPause, Stop, Next, Previous };
    void command(Command c);

    struct State {
        bool connected = false;
        QString status = QStringLiteral("Stopped"); // Playing, Paused, Stopped
        QVariantMap metadata;
        qint64 positionUs = 0;
        qint64 takenAtMs = 0; // monotonic time of positionUs
        int queueLength = 0;
        double volume = 0;
    };
    State state() const;
    qint64 position() const; // now, in microseconds

private slots:
    void publish();

private:
    explicit MprisPlayer(const QByteArray &socket, QObject *parent);
    void run();
    void wake();
    bool waitWake(int timeoutMs);
    void setState(const State &s);

    QByteArray m_socket;
    mutable std::mutex m_mutex; // guards m_state and m_commands only
    State m_state;
    std::deque<Command> m_commands;
    std::atomic<bool> m_stop{false};
    int m_wakeFd = -1;
    std::thread m_thread;
    // Interface thread only: what the bus was last told.
    State m_published;
    bool m_registered = false;
};
