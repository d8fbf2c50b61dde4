// SPDX-License-Identifier: GPL-3.0-or-later
// The engine without a window: the document, the player and the record
// session on this test's own thread, which stands in for the window's (it
// runs what the player posts, and ticks every 100 ms). What the player plays
// is recorded from the null sink's monitor and lined up with the expected
// clip by its content: the sink carries it sample for sample.
#include "effects/liveswitch.h"
#include "engine/recordsession.h"
#include "engine/voicedocument.h"
#include "engine/voiceplayer.h"
#include "platform/sqwaveplayer.h"
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;

constexpr int32_t FadeSamples = 220; // 10 ms at 22050 Hz

// A tone gliding from 200 Hz up to 400 Hz over six seconds: no stretch of it
// repeats.
std::vector<int16_t> Glide(size_t count)
{
    std::vector<int16_t> clip(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        clip[i] = static_cast<int16_t>(std::lround(9000 * std::sin(phase)));
        phase += 2 * M_PI * (200 + 200 * (static_cast<double>(i) / 22050) / 6) / 22050;
    }
    return clip;
}

class TestMessages : public MessageSink {
public:
    void ShowMessage(const std::string &text, const std::string &) override { Shown.push_back(text); }
    std::vector<std::string> Shown;
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        player.WhenClosed = [this] { ++closed; };
    }

    void Open(const std::vector<int16_t> &voice, const TEffectSet &effects = {})
    {
        auto samples = std::make_unique<int16_t[]>(voice.size());
        std::copy(voice.begin(), voice.end(), samples.get());
        ASSERT_TRUE(document.TakeVoice(std::move(samples), static_cast<int32_t>(voice.size() * 2)));
        document.Effects = effects;
        document.Process();
    }

    std::vector<int16_t> Work() const
    {
        return {document.WorkData.get(), document.WorkData.get() + document.WorkBytes / 2};
    }

    // The owner's loop: runs what was posted, ticks every 100 ms, until
    // done() holds or the time is up; answers done().
    bool RunUntil(const std::function<bool()> &done, milliseconds limit = 20s)
    {
        const auto end = steady_clock::now() + limit;
        auto tick = steady_clock::now() + 100ms;
        while (!done() && steady_clock::now() < end) {
            std::vector<std::function<void()>> now;
            {
                std::lock_guard<std::mutex> lock(mutex);
                now.swap(posted);
            }
            for (auto &call : now)
                call();
            if (steady_clock::now() >= tick) {
                tick += 100ms;
                const TPlayView view = player.Tick();
                lost = lost || view.Lost;
                if (view.ViewPosition >= 0)
                    shown = view.Clip;
            }
            std::this_thread::sleep_for(2ms);
        }
        return done();
    }

    int64_t DeviceSamples() const
    {
        MMTIME position{};
        position.wType = TIME_SAMPLES;
        if (!player.WaveOut || waveOutGetPosition(player.WaveOut, &position, sizeof(MMTIME)) != MMSYSERR_NOERROR)
            return -1;
        return position.u.sample;
    }

    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    TVoiceDocument document;
    TVoicePlayer player{document, [this](std::function<void()> call) {
                            std::lock_guard<std::mutex> lock(mutex);
                            posted.push_back(std::move(call));
                        }};
    int closed = 0;
    bool lost = false;
    const int16_t *shown = nullptr;
};

// Where the heard sound starts: its first sample above 500, less where the
// expected clip's first such sample lies.
size_t Offset(const std::vector<int16_t> &heard, const std::vector<int16_t> &clip)
{
    const long heardStart = soundtest::FirstAbove(heard, 500);
    const long clipStart = soundtest::FirstAbove(clip, 500);
    EXPECT_GE(heardStart, clipStart) << "nothing reached the output";
    return heardStart >= clipStart ? static_cast<size_t>(heardStart - clipStart) : 0;
}

TEST_F(Engine, PlaysExactlyTheProcessedClipAndClosesAtItsEnd)
{
    TEffectSet effects;
    effects.Echo = true;
    effects.PitchPosition = 3;
    Open(Glide(33075), effects);
    const std::vector<int16_t> clip = Work();
    ASSERT_NE(clip, Glide(33075));

    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(5s));
    ASSERT_EQ(player.Play(document.PlaybackRate()), "");
    ASSERT_TRUE(player.Playing);
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }));
    std::this_thread::sleep_for(300ms);
    const std::vector<int16_t> heard = capture.Stop();

    EXPECT_EQ(closed, 1);
    EXPECT_EQ(shown, document.WorkData.get()) << "the clip handed out to be shown";
    const size_t offset = Offset(heard, clip);
    ASSERT_GE(heard.size(), offset + clip.size());
    for (size_t i = 0; i < clip.size(); ++i)
        ASSERT_EQ(heard[offset + i], clip[i]) << "at sample " << i;
    EXPECT_LE(soundtest::LastAbove(heard, 0), static_cast<long>(offset + clip.size()) - 1) << "nothing after it";
}

TEST_F(Engine, ClipsOfOneBlockAndOfABlockAndTwoBytesAreWrittenInTheBlocksTheyNeed)
{
    const struct {
        int32_t Bytes;
        int HeadersWritten;
        uint32_t SecondBlockLength; // what the second header holds after the start
    } cases[] = {
        {4000, 1, 8096}, {8096, 1, 8096}, {8098, 2, 2}, {20000, 2, 8096}, {132300, 2, 8096}, // three seconds
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Bytes);
        std::vector<int16_t> clip(static_cast<size_t>(c.Bytes / 2));
        for (size_t i = 0; i < clip.size(); ++i)
            clip[i] = static_cast<int16_t>(1000 + i % 20000);
        Open(clip);
        closed = 0;
        soundtest::Capture capture("glimmer_speaker.monitor");
        ASSERT_TRUE(capture.WaitUntilRunning(5s));
        ASSERT_EQ(player.Play(22050), "");
        EXPECT_EQ(player.HeadersQueued, c.HeadersWritten);
        EXPECT_EQ(player.BytesQueued, std::min(c.Bytes, 2 * TVoicePlayer::PlayBlockBytes));
        EXPECT_EQ(player.WaveHeaders[0].dwBufferLength, static_cast<uint32_t>(std::min(c.Bytes, 8096)));
        EXPECT_EQ(player.WaveHeaders[1].dwBufferLength, c.SecondBlockLength);
        if (c.HeadersWritten == 1) {
            EXPECT_EQ(player.WaveHeaders[1].dwFlags, WHDR_PREPARED) << "the second block is never written";
        }
        EXPECT_TRUE(RunUntil([this] { return !player.Playing; }));
        EXPECT_EQ(player.BytesQueued, 0);
        EXPECT_EQ(player.HeadersQueued, 0);
        EXPECT_EQ(closed, 1);
        std::this_thread::sleep_for(200ms);
        const std::vector<int16_t> heard = capture.Stop();
        const size_t offset = Offset(heard, clip);
        ASSERT_GE(heard.size(), offset + clip.size());
        EXPECT_TRUE(std::equal(clip.begin(), clip.end(), heard.begin() + static_cast<long>(offset)))
            << "the clip is heard whole";
    }
}

TEST_F(Engine, TheLoopPlaysPassAfterPassWithoutASeamUntilStopped)
{
    const std::vector<int16_t> voice = Glide(11025); // not a whole number of blocks
    Open(voice);
    player.LoopPlayback = true;
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(5s));
    ASSERT_EQ(player.Play(22050), "");
    ASSERT_TRUE(RunUntil([this] { return DeviceSamples() > 3 * 11025 + 2000; }));
    player.Stop();
    EXPECT_FALSE(player.WaveOut == nullptr) << "closed at the next tick, not at once";
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }, 1s));
    const std::vector<int16_t> heard = capture.Stop();

    const size_t offset = Offset(heard, voice);
    ASSERT_GE(heard.size(), offset + 3 * voice.size());
    for (size_t i = 0; i < 3 * voice.size(); ++i)
        ASSERT_EQ(heard[offset + i], voice[i % voice.size()])
            << "pass " << i / voice.size() << ", sample " << i % voice.size();
}

TEST_F(Engine, AChangeWhilePlayingGoesOverToTheNewClipThroughTheCrossfade)
{
    const std::vector<int16_t> voice = Glide(4 * 22050);
    Open(voice);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(5s));
    ASSERT_EQ(player.Play(22050), "");
    ASSERT_TRUE(RunUntil([this] { return DeviceSamples() > 22050; }));
    TEffectSet backward;
    backward.Backward = true;
    document.Effects = backward;
    player.Change(backward);
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }));
    const std::vector<int16_t> heard = capture.Stop();
    const std::vector<int16_t> reversed(voice.rbegin(), voice.rend());
    EXPECT_EQ(Work(), reversed) << "the document's working clip is the new one";

    // The voice as it was, up to the first sample that differs.
    const size_t offset = Offset(heard, voice);
    size_t differs = 0;
    while (offset + differs < heard.size() && differs < voice.size() && heard[offset + differs] == voice[differs])
        ++differs;
    ASSERT_GT(differs, 22050u) << "the old clip played up to the change";
    ASSERT_LT(differs, 2u * 22050) << "the change was heard within a second";
    // From some cut at most a sample before that: the new clip from the same
    // point of the voice, its first 10 ms fading from the old.
    bool matched = false;
    for (size_t cut = differs - 1; cut <= differs && !matched; ++cut) {
        const auto n = static_cast<int32_t>(voice.size());
        const int32_t from = MapClipIndex(static_cast<int32_t>(cut), n, false, n, true);
        std::vector<int16_t> expected(reversed.begin() + from, reversed.end());
        CrossfadeFrom(expected.data(), static_cast<int32_t>(expected.size()), voice.data() + cut, FadeSamples,
                      FadeSamples);
        matched = heard.size() >= offset + cut + expected.size() &&
                  std::equal(expected.begin(), expected.end(), heard.begin() + static_cast<long>(offset + cut));
    }
    EXPECT_TRUE(matched) << "the new clip goes on from the cut at sample " << differs;
}

TEST_F(Engine, AChangeOfRateReopensTheDeviceAndPlaysOnAtTheNewRate)
{
    Open(Glide(3 * 22050));
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(5s));
    ASSERT_EQ(player.Play(22050), "");
    ASSERT_TRUE(RunUntil([this] { return DeviceSamples() > 11025; }));
    HWAVEOUT first = player.WaveOut;
    TEffectSet slow;
    slow.SlowMonster = true;
    document.Effects = slow;
    player.Change(slow);
    ASSERT_TRUE(RunUntil([this] { return player.PlayingRate == 11025; }, 3s));
    EXPECT_NE(player.WaveOut, first);
    EXPECT_EQ(closed, 0) << "the reopening is not the end";
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }));
    const std::vector<int16_t> heard = capture.Stop();
    // Half a second at the voice's rate, the other two and a half at half
    // that: five and a half seconds of sound.
    const double seconds =
        static_cast<double>(soundtest::LastAbove(heard, 500) - soundtest::FirstAbove(heard, 500)) / 22050;
    EXPECT_NEAR(seconds, 5.5, 0.25);
    EXPECT_EQ(closed, 1);
}

TEST_F(Engine, ALostOutputClosesTheDeviceAtTheNextTickAndTheNextPlayWorks)
{
    Open(Glide(4 * 22050));
    ASSERT_EQ(player.Play(22050), "");
    ASSERT_TRUE(RunUntil([this] { return DeviceSamples() > 11025; }));
    const std::string stream = soundtest::SpeakerStream();
    ASSERT_FALSE(stream.empty()) << soundtest::PactlOutput("list short sink-inputs");
    ASSERT_TRUE(soundtest::KillSinkInput(static_cast<uint32_t>(std::stoul(stream))));
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }, 2s));
    EXPECT_TRUE(lost);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(player.WaveOut, nullptr);

    ASSERT_EQ(player.Play(22050), "") << "the next Play opens a new device";
    EXPECT_TRUE(RunUntil([this] { return DeviceSamples() > 2205; }, 5s));
    player.Stop();
    EXPECT_TRUE(RunUntil([this] { return !player.Playing; }, 1s));
}

TEST_F(Engine, ARecordingBecomesTheVoiceAndItsFileGoes)
{
    TRecordSession recorder;
    recorder.InputSource = 1; // the 440 Hz input
    ASSERT_EQ(recorder.Start(), 0);
    const std::string file = recorder.RecordFileName.data();
    EXPECT_EQ(file.rfind(TRecordSession::TemporaryFolder() + "/QMB", 0), 0u) << file;
    EXPECT_EQ(access(file.c_str(), F_OK), 0);
    std::this_thread::sleep_for(1200ms);
    EXPECT_GT(recorder.Level(), 30) << "a tone at half of full scale";
    const double elapsed = recorder.ElapsedMs() / 1000.0;
    EXPECT_GE(elapsed, 1.2);
    ASSERT_TRUE(recorder.Stop());
    TestMessages messages;
    ASSERT_TRUE(recorder.LoadTake(document, messages));
    EXPECT_EQ(recorder.WriteError(), "");
    recorder.Finish(document);
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_FALSE(recorder.Recording);
    EXPECT_TRUE(document.Modified);
    EXPECT_TRUE(document.UnsavedRecording());
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "the take is in memory; its file is gone";
    EXPECT_EQ(recorder.RecordFileName[0], '\0');
    // As long as it ran, less at most what the server may lose at the start.
    const double seconds = document.VoiceBytes / 44100.0;
    EXPECT_GE(seconds, elapsed - soundtest::RecordingStartLoss() - 0.1);
    EXPECT_LE(seconds, elapsed + 0.1);
    EXPECT_EQ(document.WorkCapacity, document.VoiceBytes);
    const std::vector<int16_t> voice(document.VoiceData.get(), document.VoiceData.get() + document.VoiceBytes / 2);
    EXPECT_NEAR(soundtest::Frequency(voice, voice.size() / 2, 4410, 22050), 440, 5);
}

TEST_F(Engine, ARefusedRecordingLeavesNoFileAndSaysWhy)
{
    TRecordSession recorder;
    recorder.InputSource = 1;
    ASSERT_EQ(recorder.Start(), 0);
    TRecordSession second;
    second.InputSource = 1;
    const int16_t refused = second.Start();
    EXPECT_EQ(refused, RECORD_ERROR_BUSY);
    EXPECT_FALSE(second.Recording);
    EXPECT_NE(access(second.RecordFileName.data(), F_OK), 0) << "nothing will be recorded into it";
    TestMessages messages;
    EXPECT_TRUE(TRecordSession::ShowError(refused, messages));
    EXPECT_EQ(messages.Shown, std::vector<std::string>{"Recording already in progress."});
    EXPECT_FALSE(TRecordSession::ShowError(0, messages));

    const std::string file = recorder.RecordFileName.data();
    recorder.Abandon();
    EXPECT_FALSE(recorder.Recording);
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "an abandoned take's file goes";
}

} // namespace
