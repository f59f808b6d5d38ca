#pragma once

#include <QString>

// Style sheet of the chat panels' vertical scroll bars: thin, rounded,
// with small arrow pictures.
QString chatScrollBarStyle();
