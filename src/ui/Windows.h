#pragma once
// The About window and the frame of the program's windows. Each tells when
// it closes, so the controller can empty its window slot and end a modal
// run; each closes with Escape and Ctrl+W.
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

