// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer's volumes, 0..65535 with 65535 = 100 %, against the server's,
// where 100 % is PA_VOLUME_NORM (65536). Both ways round to the nearest;
// the only exact half (server volume 32768, 32767.5) goes up to the even
// 32768, and every mixer volume comes back unchanged after a round trip.
#pragma once

#include <pulse/volume.h>

#include <algorithm>
#include <cstdint>

namespace platform {

inline pa_volume_t ToServerVolume(int32_t volume)
{
    uint64_t v = static_cast<uint64_t>(std::clamp<int32_t>(volume, 0, 65535));
    return static_cast<pa_volume_t>((v * PA_VOLUME_NORM * 2 + 65535) / (2 * 65535));
}

inline int32_t FromServerVolume(pa_volume_t volume)
{
    uint64_t v = std::min<uint64_t>(volume, PA_VOLUME_NORM);
    return static_cast<int32_t>((v * 65535 * 2 + PA_VOLUME_NORM) / (2 * PA_VOLUME_NORM));
}

} // namespace platform
