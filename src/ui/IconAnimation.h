#pragma once
// The tray icon's two frames: frame 0 is the normal icon, frame 1 its open
// look. While the watcher works the icon alternates every half second; a
// polling thread decides the frame and hands each change to the main thread.
#include <QImage>
#include <QObject>
#include <atomic>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <thread>

class IconView;

class IconAnimationDelegate {
public:
    virtual ~IconAnimationDelegate() = default;
    virtual bool open() const = 0;
};

class IconAnimation : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 100;
    static constexpr double kFrameSeconds = 0.5;

    explicit IconAnimation(QObject *parent = nullptr);
    ~IconAnimation() override;

    void awakeFromNib();
    void loadImages();
    void setImageView(IconView *view);
    IconView *imageView() const { return m_imageView; }
    void setDelegate(IconAnimationDelegate *d) { m_delegate = d; }
    IconAnimationDelegate *delegate() const { return m_delegate; }

    // Called from the watcher's thread.
    void start();
    void stop();
    bool isRunning() const { return m_isRunning; }

    void updateIconImage();
    void setImageViewImage(const QImage &image);
    int getFrameIndex() const;
    QImage frame(int index) const { return m_images[index]; }

signals:
    // A frame was shown (on the main thread); the status notifier item follows it.
    void frameShown(int index);

private:
    void runAnimation();
    // Runs fn on the main thread and waits until it ran (or the animation is being destroyed).
    void onMainThreadAndWait(std::function<void()> fn);

    IconView *m_imageView = nullptr;
    QImage m_images[2];
    std::atomic<bool> m_isRunning{false};
    std::atomic<qint64> m_startNs{0};
    IconAnimationDelegate *m_delegate = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    // While nothing runs the thread sleeps here instead of polling.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_handedOver = false;
    // Owned by the animation thread.
    int m_oldFrameIndex = -1;
    bool m_wasRunning = false;
};
