#include "ui/IconAnimation.h"
#include "ui/IconView.h"

#include <chrono>

static void initRivuletResources() { Q_INIT_RESOURCE(rivulet); }

namespace {
qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}

IconAnimation::IconAnimation(QObject *parent) : QObject(parent) {}

IconAnimation::~IconAnimation()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_wakeMutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void IconAnimation::awakeFromNib()
{
    loadImages();
    m_thread = std::thread([this] { runAnimation(); });
}

void IconAnimation::loadImages()
{
    initRivuletResources();
    for (int i = 0; i < 2; ++i)
        m_images[i] = QImage(QStringLiteral(":/%1_%2.png").arg(QStringLiteral("icon_frame")).arg(i));
}

void IconAnimation::setImageView(IconView *view)
{
    m_imageView = view;
    setImageViewImage(m_images[0]);
}

void IconAnimation::start()
{
    if (m_isRunning)
        return; // the run keeps its start time
    m_startNs.store(nowNs(), std::memory_order_relaxed);
    {
        std::lock_guard lock(m_wakeMutex);
        m_isRunning.store(true, std::memory_order_release);
    }
    m_wake.notify_one();
}

void IconAnimation::stop()
{
    m_isRunning = false;
}

void IconAnimation::updateIconImage()
{
    setImageViewImage(m_images[m_delegate && m_delegate->open() ? 1 : 0]);
}

void IconAnimation::setImageViewImage(const QImage &image)
{
    // The view draws the frame from its paths at its own size.
    int index = -1;
    for (int i = 0; i < 2; ++i)
        if (image.cacheKey() == m_images[i].cacheKey())
            index = i;
    if (m_imageView)
        m_imageView->setImage(image, index);
    if (index >= 0)
        emit frameShown(index);
}

int IconAnimation::getFrameIndex() const
{
    const float t = float(double(nowNs() - m_startNs.load(std::memory_order_relaxed)) / 1e9);
    const int n = int(2.0f * t) + 1;
    return n % 2;
}

void IconAnimation::onMainThreadAndWait(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_wakeMutex);
        m_handedOver = false;
    }
    // Queued, not blocking: a call still pending when the animation goes is dropped with it.
    QMetaObject::invokeMethod(this, [this, fn] {
        fn();
        {
            std::lock_guard lock(m_wakeMutex);
            m_handedOver = true;
        }
        m_wake.notify_all();
    }, Qt::QueuedConnection);
    std::unique_lock lock(m_wakeMutex);
    m_wake.wait(lock, [this] { return m_handedOver || m_quit; });
}

void IconAnimation::runAnimation()
{
    while (!m_quit) {
        if (m_isRunning.load(std::memory_order_acquire)) {
            m_wasRunning = true;
            const int i = getFrameIndex();
            if (i != m_oldFrameIndex) {
                onMainThreadAndWait([this, i] { setImageViewImage(m_images[i]); });
                m_oldFrameIndex = i;
            }
        } else if (m_wasRunning) {
            onMainThreadAndWait([this] { updateIconImage(); });
            m_wasRunning = false;
        } else {
            // Idle: no polling until the next start.
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait(lock, [this] { return m_quit || m_isRunning; });
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}
