#include "record/microphoneprobe.h"

#include "record/audiocapturethread.h"
#include "record/devmag.h"
#include "record/openingthread.h"

#include <cstdlib>

// A capture whose sound goes nowhere: only its meter is read.
class ProbeCapture : public audioCaptureThread
{
public:
    using audioCaptureThread::audioCaptureThread;
    ~ProbeCapture() override
    {
        stopCapture();
        wait();
    }

protected:
    void deliver(uint8_t *data, int) override { std::free(data); }
    bool hasReceiver() const override { return true; }
};

MicrophoneProbe::MicrophoneProbe(QObject *parent) : QObject(parent), m_capture(new ProbeCapture(this)) {}

MicrophoneProbe::~MicrophoneProbe()
{
    OpeningThread::end(&m_opener);
}

void MicrophoneProbe::listen(const QString &source)
{
    if (devMag::instance()->audioFormatName() != QLatin1String("pulse"))
        return;
    const bool same = m_wanted && source == m_source;
    m_wanted = true;
    m_source = source;
    if (!same)
        open();
}

void MicrophoneProbe::stop()
{
    m_wanted = false;
    m_capture->stopCapture();
}

float MicrophoneProbe::level() const
{
    return m_wanted && m_capture->isRunning() ? m_capture->meter().level() : 0.0f;
}

void MicrophoneProbe::open()
{
    // One opening at a time; its end opens again if the wish changed.
    if (m_opener)
        return;
    m_capture->stopCapture();
    const QString source = m_source;
    m_openedSource = source;
    auto ok = std::make_shared<bool>(false);
    OpeningThread::launch(
        &m_opener, this, [this, source, ok] { *ok = m_capture->openDevice(source) == CaptureInput::Ready; },
        [this, ok] { opened(*ok); });
}

void MicrophoneProbe::opened(bool ok)
{
    if (!m_wanted) {
        m_capture->closeDevice();
        return;
    }
    if (m_openedSource != m_source) {
        m_capture->closeDevice();
        open();
        return;
    }
    if (ok)
        m_capture->startCapture();
}
