#pragma once
// The About window and the preferences window's frame. Each tells when it
// closes, so the controller can empty its window slot and end a modal run.
#include <QWidget>

class TrackedWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrackedWindow(QWidget *parent = nullptr);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
};

class AboutWindow : public TrackedWindow {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
};

