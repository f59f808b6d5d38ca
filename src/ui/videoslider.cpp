#include "ui/videoslider.h"

#include "base/logging.h"

#include <QMouseEvent>
#include <QPointer>
#include <QStyle>

VideoSlider::VideoSlider() : QSlider(Qt::Horizontal)
{
    setStyleSheet("QSlider::groove:horizontal {border: 0px solid #bbb;}"
                  "QSlider::sub-page:horizontal {      background-color: #ff9900;border-bottom-left-radius: "
                  "1px; border-top-left-radius: 1px;     border-radius: 1px; "
                  "margin-top:0px;margin-bottom:0px;} "
                  "QSlider::add-page:horizontal {background-color: rgba(228, 228, 228, 108);     border: 0px "
                  "solid #777;border-radius: 1px;margin-top:0px;margin-bottom:0px;}"
                  "QSlider::sub-page:horizontal:disabled {     background: #bbb;border-color: #999;}"
                  "QSlider::add-page:horizontal:disabled {background: #eee;border-color: #999;}"
                  "QSlider::handle:horizontal:disabled {     background: #eee;border: 1px solid "
                  "#aaa;border-radius: 1px;}"
                  "QProgressBar{border: 0px solid grey; border-radius: 1px;background-color: rgba(228, 228, "
                  "228, 108);border-radius:1px; }");
}

VideoSlider *VideoSlider::instance()
{
    // Recreated if the widget that held it took it down with itself.
    static QPointer<VideoSlider> slider;
    if (!slider)
        slider = new VideoSlider;
    return slider;
}

void VideoSlider::setProgress(int value)
{
    if (isSliderDown())
        return;
    setValue(value);
}

void VideoSlider::mouseReleaseEvent(QMouseEvent *event)
{
    const int value = QStyle::sliderValueFromPosition(minimum(), maximum(), event->pos().x(), width());
    if (!isSliderDown())
        setValue(value);
    TAVI_LOG_DEBUG("VideoSlider " << maximum() << " " << value);
    // The base handler ends a drag; without it the slider would count as
    // dragged for good and ignore every later progress update.
    QSlider::mouseReleaseEvent(event);
    emit sig_valueChanged(value);
}
