// SPDX-License-Identifier: GPL-3.0-or-later
// What a drag and drop onto the window carries.
#pragma once

#include <string>

class QMimeData;

// The local sound file a drop carries, or an empty string. Only a single
// file whose extension is one the program opens (any case) is taken, read
// byte for byte from the drop's list of links, so a name that is not valid
// UTF-8 still reaches its file.
std::string DroppedSoundFile(const QMimeData *data);
