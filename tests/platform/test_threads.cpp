// SPDX-License-Identifier: GPL-3.0-or-later
// The three sound libraries called from several threads at once, as their
// headers allow: a recording started and stopped over and over while other
// threads read its level and state, the mixer's volumes set and read, and a
// wave-out device written and reset while another thread asks its
// position. Each result is checked; test.sh also runs this under
// ThreadSanitizer, which reports any unguarded access the calls make.
#include "platform/sqwaveplayer.h"
#include "platform/tmmixlib.h"
#include "platform/waveout.h"

#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using soundtest::MessageQueue;

namespace {

constexpr uint16_t MicInput = 1;
constexpr int Takes = 8;
constexpr int Resets = 12;

// Collects failures from any thread; the test reports them on its own.
class Problems {
public:
    void Add(const std::string &what)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (list_.size() < 20) {
            list_.push_back(what);
        }
    }
    std::vector<std::string> List()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return list_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> list_;
};

class ThreadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        SetCallbackWindow(&mixerQueue, MessageQueue::Post);
        ASSERT_EQ(SelectOutputDevice(0), 0);
        ASSERT_EQ(SelectInputDevice(0), 0);
        folder = std::filesystem::temp_directory_path() / ("glimmer-threads-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        AudioStopRecord();
        SetCallbackWindow(nullptr, nullptr);
        DeSelectOutputDevice();
        DeSelectInputDevice();
        std::filesystem::remove_all(folder);
        soundtest::ResetServer();
    }

    MessageQueue mixerQueue;
    std::filesystem::path folder;
};

TEST_F(ThreadsTest, RecorderMixerAndWaveOutAnswerCallsFromManyThreadsAtOnce)
{
    // The device is ready before any thread starts; from then on nothing
    // returns early, so that every thread is joined.
    MessageQueue playQueue;
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, &playQueue, MessageQueue::Post, 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<int16_t> clip(2 * 2205, 3000);
    WAVEHDR headers[2]{};
    for (int i = 0; i < 2; i++) {
        headers[i].lpData = reinterpret_cast<char *>(clip.data() + i * 2205);
        headers[i].dwBufferLength = 2205 * 2;
        ASSERT_EQ(waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }

    Problems problems;
    std::atomic<bool> done{false};

    // Takes, one after another; each file is checked once the take is over.
    std::thread recorder([&] {
        for (int take = 0; take < Takes; take++) {
            const std::string file = (folder / ("take" + std::to_string(take) + ".wav")).string();
            if (int16_t started = AudioStartRecord(file.c_str(), 22050, 16, 1, MicInput); started != 0) {
                problems.Add("take " + std::to_string(take) + " did not start: " + std::to_string(started));
                continue;
            }
            std::this_thread::sleep_for(120ms);
            if (AudioStopRecord() != 0) {
                problems.Add("take " + std::to_string(take) + " did not stop");
            }
            std::vector<unsigned char> bytes = soundtest::ReadFile(file);
            if (bytes.size() < 44 || soundtest::LE32(bytes.data() + 40) + 44 > bytes.size()) {
                problems.Add("take " + std::to_string(take) + " is not a whole WAVE file");
            }
        }
    });
    // Readers of the recorder's level, state and write error.
    std::vector<std::thread> watchers;
    for (int i = 0; i < 2; i++) {
        watchers.emplace_back([&] {
            while (!done) {
                int32_t level = -1;
                AudioGetRecordLevel(&level, nullptr);
                int16_t state = AudioGetRecordState();
                if (level < 0 || level > 100) {
                    problems.Add("level " + std::to_string(level));
                }
                if (state != RECORD_STATE_IDLE && state != RECORD_STATE_RUNNING) {
                    problems.Add("state " + std::to_string(state));
                }
                if (AudioGetRecordWriteError() != 0) {
                    problems.Add("a write failed");
                }
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    // The mixer: the output volume stepped down and read back, the inputs
    // listed, from two threads. (Every change keeps the server and its
    // session manager busy for a while: with many more, a new stream on a
    // loaded machine may take the server longer than the second the
    // libraries wait for it, and a reset fails as it should then.)
    std::thread mixerWriter([&] {
        for (int32_t volume = 65535; !done; volume = volume > 8000 ? volume - 4000 : 65535) {
            if (SetCurrentOutputVolSetting(1, &volume) != 0) {
                problems.Add("the output volume was refused");
            }
            std::this_thread::sleep_for(200ms);
        }
    });
    std::thread mixerReader([&] {
        while (!done) {
            int32_t volume = -1;
            if (GetCurrentOutputVolSetting(1, &volume) != 0 || volume < 0 || volume > 65535) {
                problems.Add("output volume read as " + std::to_string(volume));
            }
            char description[MIXER_DESCRIPTION_SIZE];
            if (GetNumberOfInputSources() != 3 || GetInputSourceDescription(MicInput, description) != 0) {
                problems.Add("the inputs were not listed");
            }
            std::this_thread::sleep_for(2ms);
        }
    });

    // Wave-out: two blocks written and reset, over and over, while another
    // thread asks the position; every block comes back once per write.
    std::atomic<bool> playing{true};
    std::thread position([&] {
        while (playing) {
            MMTIME time{};
            time.wType = TIME_BYTES;
            if (waveOutGetPosition(device, &time, sizeof time) != MMSYSERR_NOERROR) {
                problems.Add("the position was refused");
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    for (int round = 0; round < Resets; round++) {
        for (WAVEHDR &header : headers) {
            EXPECT_EQ(waveOutWrite(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR) << "round " << round;
        }
        std::this_thread::sleep_for(round % 2 == 0 ? 30ms : 150ms);
        EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR) << "round " << round;
        EXPECT_TRUE(playQueue.WaitFor(MM_WOM_DONE, 2 * (round + 1), 5s)) << "round " << round;
        if (HasFailure()) {
            break;
        }
    }
    playing = false;
    position.join();
    // Each write came back exactly once, the two blocks in turn.
    std::vector<MessageQueue::Message> returned = playQueue.All(MM_WOM_DONE);
    EXPECT_EQ(returned.size(), 2u * Resets);
    for (size_t i = 0; i < returned.size(); i++) {
        EXPECT_EQ(returned[i].LParam, reinterpret_cast<intptr_t>(&headers[i % 2])) << "return " << i;
    }
    for (WAVEHDR &header : headers) {
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);

    recorder.join();
    done = true;
    for (std::thread &watcher : watchers) {
        watcher.join();
    }
    mixerWriter.join();
    mixerReader.join();
    for (const std::string &problem : problems.List()) {
        ADD_FAILURE() << problem;
    }
    // The mixer still follows the server: the last volume set is read back.
    int32_t full = 65535;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &full), 0);
    EXPECT_TRUE(soundtest::Eventually([] {
        int32_t volume = 0;
        return GetCurrentOutputVolSetting(1, &volume) == 0 && volume == 65535;
    }));
}

} // namespace
