#pragma once

#include "ui/iconbtn.h"

// The classroom's play button. Its play state (1 playing, 2 paused,
// 3 stopped) is also the screen's play state, so there is one per process.
class playBtn : public IconBtn
{
    Q_OBJECT
public:
    static playBtn *instance();

    int state() const { return m_playState; }
    void setState(int state);
    void flip();

private:
    playBtn();

    int m_playState = 3;
};
