#pragma once

#include "base/playerstate.h"
#include "ui/iconbtn.h"

// The classroom's play button: it shows the play state of what plays (the
// play control owns it), one per process.
class playBtn : public IconBtn
{
    Q_OBJECT
public:
    static playBtn *instance();

    PlayerState state() const { return m_playState; }
    void setState(PlayerState state);
    void flip();

signals:
    void s_playBtn(bool bPlay);

public slots:
    void slot_playBtn();

private:
    playBtn();

    PlayerState m_playState = Stop;
};
