#pragma once

#include <QString>

class PlayStats;

// Reads an address the way the player does (brief probe, reconnecting live
// input) but decodes nothing: each picture's packet is counted as it
// arrives. For many listeners on one machine. Returns false when the
// address cannot be opened or has no pictures.
bool countPictures(const QString &address, double seconds, int frames, PlayStats &stats);
