#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the main thread through a
// self-pipe, so the operating system's quit request takes the same path as
// the Quit menu entry.
#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
