// SPDX-License-Identifier: GPL-3.0-or-later
// With no sound server to be had, every library says so promptly: device
// counts of 0, open and record refused with their codes, and no call hangs,
// whether the server's socket is missing, refuses, or accepts and never
// answers.
#include "platform/sqwaveplayer.h"
#include "platform/tmmixlib.h"
#include "platform/waveout.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Runs call on a thread of its own; fails the test if it has not returned
// within ten seconds (a call may wait for the server for three).
template <class Call> auto Within10s(Call call) -> decltype(call())
{
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the call hangs";
        std::abort(); // a hung thread cannot be joined
    }
    return result.get();
}

class NoServerTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("glimmer-noserver-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        socketPath = (folder / "native").string();
        std::string kind = GetParam();
        if (kind == "missing") {
            setenv("PULSE_SERVER", ("unix:" + socketPath).c_str(), 1);
        } else {
            // A socket that exists: bound but refusing, or listening but
            // never answering.
            listener = socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_GE(listener, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
            ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            if (kind == "silent") {
                ASSERT_EQ(listen(listener, 16), 0);
                // After a failed connection the libraries give up at once for
                // two seconds; wait that out so that this case is really tried.
                std::this_thread::sleep_for(2100ms);
            }
            setenv("PULSE_SERVER", ("unix:" + socketPath).c_str(), 1);
        }
        unsetenv("PULSE_CLIENTCONFIG");
    }
    void TearDown() override
    {
        if (listener >= 0) {
            close(listener);
        }
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path folder;
    std::string socketPath;
    int listener = -1;
};

TEST_P(NoServerTest, DeviceCountsAreZero)
{
    EXPECT_EQ(Within10s([] { return GetNumberOfOutputDevices(); }), 0);
    EXPECT_EQ(Within10s([] { return GetNumberOfInputDevices(); }), 0);
    EXPECT_EQ(Within10s([] { return GetNumberOfInputSources(); }), 0);
    EXPECT_EQ(Within10s([] { return SelectOutputDevice(0); }), MIXER_ERROR_NOSERVER);
    EXPECT_FALSE(Within10s([] { return IsCurrentInputSourceSelected(0); }));
    int32_t volume = 1234;
    EXPECT_EQ(Within10s([&] { return GetCurrentOutputVolSetting(1, &volume); }), MIXER_ERROR_NOSERVER);
    EXPECT_EQ(volume, 1234);
    EXPECT_EQ(Within10s([&] { return SetCurrentInputVolSetting(1, &volume); }), MIXER_ERROR_NOSERVER);
    std::string description = Within10s([] {
        char buffer[MIXER_DESCRIPTION_SIZE] = "left over";
        GetInputSourceDescription(0, buffer);
        return std::string(buffer);
    });
    EXPECT_EQ(description, "");
}

TEST_P(NoServerTest, WaveOutOpenFails)
{
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HWAVEOUT device = reinterpret_cast<HWAVEOUT>(1);
    MMRESULT result =
        Within10s([&] { return waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL); });
    EXPECT_NE(result, MMSYSERR_NOERROR);
    EXPECT_NE(result, WAVERR_BADFORMAT);
    EXPECT_EQ(device, nullptr);
}

TEST_P(NoServerTest, RecordingGives204AndLeavesNoFile)
{
    std::string file = (folder / "take.wav").string();
    EXPECT_EQ(Within10s([&] { return AudioStartRecord(file.c_str(), 22050, 16, 1, 0); }), RECORD_ERROR_DEVICE);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(Within10s([] { return AudioStopRecord(); }), 0);
    int32_t level = -1;
    AudioGetRecordLevel(&level, nullptr);
    EXPECT_EQ(level, 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, NoServerTest, ::testing::Values("missing", "refusing", "silent"));

} // namespace
