#include "ui/playbtn.h"

#include "ui/videoslider.h"

#include <QPointer>

namespace {
const char *const playPicture = ":/images/sys/play";
const char *const stopPicture = ":/images/sys/stop";
} // namespace

playBtn::playBtn() : IconBtn(playPicture, false) {}

playBtn *playBtn::instance()
{
    // The screen that holds the button may be destroyed with it; the next
    // use then gets a fresh one instead of a dangling pointer.
    static QPointer<playBtn> button;
    if (!button)
        button = new playBtn;
    return button;
}

void playBtn::setState(PlayerState state)
{
    m_playState = state;
    switch (state) {
    case Playing:
        setPicture(stopPicture);
        break;
    case Pause:
        setPicture(playPicture);
        break;
    case Stop:
        setPicture(playPicture);
        VideoSlider::instance()->setProgress(0);
        break;
    }
    update();
}

void playBtn::flip()
{
    if (m_playState == Playing) {
        m_playState = Pause;
        setPicture(playPicture);
    } else {
        m_playState = Playing;
        setPicture(stopPicture);
    }
    update();
}

void playBtn::slot_playBtn()
{
    flip();
}
