#pragma once

#include <QMetaType>

enum PlayerState {
    Playing = 1,
    Pause = 2,
    Stop = 3
};

Q_DECLARE_METATYPE(PlayerState)
