// SPDX-License-Identifier: GPL-3.0-or-later
// What the live voice's tests share: the samples of the WAVE files it keeps,
// and the clip path (the plain glimmerbox-fx) over what came in.
#pragma once

#include "audio/wavefile.h"
#include "effects/liveswitch.h"
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace livetesting {

// The samples of a 16-bit WAVE file's data chunk.
inline std::vector<int16_t> Samples(const std::string &file)
{
    const std::vector<unsigned char> bytes = soundtest::ReadFile(file);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = soundtest::LE32(&bytes[at + 4]);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            std::vector<int16_t> samples(std::min<size_t>(size, bytes.size() - at - 8) / 2);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

inline std::string Tool()
{
    return std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/glimmerbox-fx";
}

// The clip path: the plain tool with effects over in, at 22050 Hz.
inline std::vector<int16_t> ClipPath(const std::vector<int16_t> &in, const std::string &effects,
                                     const std::filesystem::path &folder)
{
    const std::string input = (folder / "clip-in.wav").string();
    const std::string output = (folder / "clip-out.wav").string();
    EXPECT_TRUE(WriteWaveFile(input, 22050, 16, 1, in.data(), static_cast<uint32_t>(in.size() * 2)));
    EXPECT_EQ(std::system((Tool() + " " + effects + " '" + input + "' '" + output + "'").c_str()), 0);
    return Samples(output);
}

// out is the clip path of the first effects over in up to changed, then,
// after the crossfade, of the second over in from changed on.
inline void ExpectLiveOutput(const std::vector<int16_t> &in, const std::vector<int16_t> &out, size_t changed,
                             const std::string &first, const std::string &second, const std::filesystem::path &folder)
{
    ASSERT_EQ(in.size(), out.size());
    ASSERT_GT(changed, 0u);
    ASSERT_LT(changed + 1000, in.size());
    const std::vector<int16_t> before = ClipPath(in, first, folder);
    ASSERT_EQ(before.size(), in.size());
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(changed), before.begin()))
        << "before the change";
    std::vector<int16_t> after =
        ClipPath(std::vector<int16_t>(in.begin() + static_cast<long>(changed), in.end()), second, folder);
    CrossfadeFrom(after.data(), static_cast<int32_t>(after.size()), before.data() + changed,
                  static_cast<int32_t>(before.size() - changed), CrossfadeLength(22050));
    EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(changed), out.end(), after.begin())) << "after the change";
}

} // namespace livetesting
