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

void playBtn::setState(int state)
{
    m_playState = state;
    switch (state) {
    case 1:
        setPicture(stopPicture);
        break;
    case 2:
        setPicture(playPicture);
        break;
    case 3:
        setPicture(playPicture);
        VideoSlider::instance()->setProgress(0);
        break;
    default:
        break;
    }
    update();
}

void playBtn::flip()
{
    if (m_playState == 1) {
        m_playState = 2;
        setPicture(playPicture);
    } else {
        m_playState = 1;
        setPicture(stopPicture);
    }
    update();
}
