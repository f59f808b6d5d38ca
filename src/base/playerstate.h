#pragma once

#include <QMetaType>

// Where a player stands, and with it what the classroom's play button shows.
enum PlayerState {
    Playing = 1,
    Pause = 2,
    Stop = 3
};

Q_DECLARE_METATYPE(PlayerState)
