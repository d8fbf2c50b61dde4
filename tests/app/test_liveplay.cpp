// SPDX-License-Identifier: GPL-3.0-or-later
// Effects changed while the voice plays, and the loop, against the private
// sound server. What the window plays is recorded from the null sink's
// monitor and lined up with the known voice by its content, never by the
// clock: before the change the monitor holds the unprocessed voice sample
// for sample, within 150 ms of the change the newly processed clip at the
// same point of the voice, with only the 10 ms crossfade between them.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/startupunit.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"
#include "effects/liveswitch.h"
#include "effects/pipeline.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/platform/soundtest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;

constexpr int32_t BlockSamples = 8096 / 2; // one playback block
constexpr int32_t FadeSamples = 220;       // 10 ms at 22050 Hz

// A tone gliding from 200 Hz up to 400 Hz over six seconds: no stretch of it
// repeats, and its pitch tells where in the voice a sound comes from.
double GlideFrequency(double seconds)
{
    return 200 + 200 * seconds / 6;
}

std::vector<int16_t> Glide(size_t count)
{
    std::vector<int16_t> clip(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        clip[i] = static_cast<int16_t>(std::lround(9000 * std::sin(phase)));
        phase += 2 * M_PI * GlideFrequency(static_cast<double>(i) / 22050) / 22050;
    }
    return clip;
}

// The position the device has played, in samples.
int64_t DevicePosition(HWAVEOUT device)
{
    MMTIME position{};
    position.wType = TIME_SAMPLES;
    if (!device || waveOutGetPosition(device, &position, sizeof(MMTIME)) != MMSYSERR_NOERROR)
        return -1;
    return position.u.sample;
}

// Waits until done() holds, looking every 5 ms and handling events
// meanwhile; answers done() at the end. The pause matters: asking the device
// without one would keep the sound library's lock busy and take the cores
// the sound needs.
bool WaitUntil(const std::function<bool()> &done, int limitMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QTest::qWait(5);
    return done();
}

class LivePlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(settingsFolder.isValid());
        // Loop and the preference are read from these settings at start.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    }

    void TearDown() override { CloseMainWindow(form); }

    void Start() { StartMainWindow(form, TimerTicks::Running); }

    void OpenClip(const std::vector<int16_t> &clip)
    {
        const std::string name = folder.filePath(QStringLiteral("voice.wav")).toStdString();
        ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
        form->OpenVoiceFile(name);
        ASSERT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(clip.size() * 2));
    }

    static void Click(QWidget *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() / 2));
    }

    // The clip the window would play for the selection the controls show.
    std::vector<int16_t> Processed(const std::vector<int16_t> &voice)
    {
        std::vector<int16_t> work(static_cast<size_t>(form->Document.WorkCapacity / 2));
        bool altered = true;
        const PipelineResult result =
            RunEffectPipeline(voice.data(), static_cast<int32_t>(voice.size() * 2), work.data(),
                              form->Document.WorkCapacity, altered, form->Document.Effects, 22050);
        work.resize(static_cast<size_t>(result.WorkBytes / 2));
        return work;
    }

    // Plays, waits until the device has played `at` samples, makes the
    // change; answers the device position at the change. Play stays down
    // and the sound plays on until the end.
    int64_t PlayAndChangeAt(int64_t at, const std::function<void()> &change)
    {
        Click(form->PlayButton);
        EXPECT_TRUE(form->Player.Playing);
        EXPECT_TRUE(WaitUntil([&] { return DevicePosition(form->Player.WaveOut) >= at; }, 20000));
        const int64_t changedAt = DevicePosition(form->Player.WaveOut);
        change();
        return changedAt;
    }

    void WaitUntilPlayIsUp()
    {
        EXPECT_TRUE(WaitUntil([this] { return !form->Player.Playing && !form->PlayButton->Down(); }, 30000));
    }

    std::vector<int16_t> Played(soundtest::Capture &capture)
    {
        QTest::qWait(300);
        return capture.Stop();
    }

    QTemporaryDir folder;
    QTemporaryDir settingsFolder;
    RecordedMessages messages;
    std::unique_ptr<TMainForm> form;
};

// The milliseconds " POS: mm:ss:hh" shows.
int ShownMilliseconds(const TMainForm &form)
{
    const QStringList parts = form.timeDisplay->text().mid(6).split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    return parts[0].toInt() * 60000 + parts[1].toInt() * 1000 + parts[2].toInt() * 10;
}

// Where old's first sample above 500 was heard.
long Offset(const std::vector<int16_t> &heard, const std::vector<int16_t> &old)
{
    const long clipStart = soundtest::FirstAbove(old, 500);
    const long heardStart = soundtest::FirstAbove(heard, 500);
    if (clipStart < 0 || heardStart < clipStart)
        return -1;
    return heardStart - clipStart;
}

// Follows expected[from..to) through heard from heard index at on, each
// sample in its place. A server that falls behind for a moment (a loaded
// machine) plays silence until the next sample arrives, and may drop a few
// samples it could not play in time: runs of exact zeros before a sample
// are passed over and counted in silence, and after such a run of at least
// 64 the sound may pick up again up to one block further on (counted in
// dropped). Answers the index of the first sample not found in its place
// (to when all were) and leaves at just after the last one found.
size_t Follow(const std::vector<int16_t> &heard, size_t &at, const std::vector<int16_t> &expected, size_t from,
              size_t to, size_t &silence, size_t *dropped = nullptr)
{
    constexpr size_t Gap = 64;
    constexpr size_t Match = 32;
    size_t i = from;
    while (i < to) {
        size_t next = at;
        while (next < heard.size() && heard[next] == 0 && expected[i] != 0)
            ++next;
        if (next < heard.size() && heard[next] == expected[i]) {
            silence += next - at;
            at = next + 1;
            ++i;
            continue;
        }
        if (!dropped || next - at < Gap || next + Match > heard.size())
            return i;
        size_t resume = i + 1;
        const size_t last = std::min(to, i + BlockSamples);
        while (resume + Match <= last &&
               !std::equal(heard.begin() + static_cast<long>(next), heard.begin() + static_cast<long>(next + Match),
                           expected.begin() + static_cast<long>(resume)))
            ++resume;
        if (resume + Match > last)
            return i;
        silence += next - at;
        *dropped += resume - i;
        at = next;
        i = resume;
    }
    return to;
}

// What the seam holds: the old clip fading out over 220 samples while the
// new one fades in.
int16_t Blend(int16_t from, int16_t to, int32_t i)
{
    const double mixed = (static_cast<double>(from) * (FadeSamples - i) + static_cast<double>(to) * i) / FadeSamples;
    return static_cast<int16_t>(std::nearbyint(mixed));
}

// heard holds old up to the seam, then fresh from the same point of the
// voice (mirrored when backward), with the crossfade between, then nothing.
// The seam lies within a crossfade before the first sample that differs from
// old (the crossfade's first sample is old's own). seamAt: the seam, an index
// of old.
void ExpectSwitched(const std::vector<int16_t> &heard, const std::vector<int16_t> &old,
                    const std::vector<int16_t> &fresh, bool backward, int32_t &seamAt)
{
    const long offset = Offset(heard, old);
    ASSERT_GE(offset, 0) << "nothing reached the output";
    size_t at = static_cast<size_t>(offset);
    size_t silence = 0;
    size_t dropped = 0;
    const size_t firstDifference = Follow(heard, at, old, 0, old.size(), silence, &dropped);
    ASSERT_LT(firstDifference, old.size()) << "the change was never heard";
    size_t missing = 0;
    const auto last = static_cast<int32_t>(firstDifference) - 1;
    for (int32_t seam = last; seam >= 0 && seam > last - FadeSamples; --seam) {
        at = static_cast<size_t>(offset);
        silence = 0;
        dropped = 0;
        if (Follow(heard, at, old, 0, static_cast<size_t>(seam), silence, &dropped) != static_cast<size_t>(seam))
            continue;
        // From the seam: the crossfade, then the rest of the new clip.
        const int32_t start =
            MapClipIndex(seam, static_cast<int32_t>(old.size()), false, static_cast<int32_t>(fresh.size()), backward);
        std::vector<int16_t> after(fresh.begin() + start, fresh.end());
        for (int32_t i = 0; i < FadeSamples && static_cast<size_t>(i) < after.size(); ++i)
            after[i] = Blend(old[seam + i], after[i], i);
        const size_t found = Follow(heard, at, after, 0, after.size(), silence, &dropped);
        if (found != after.size()) {
            missing = std::max(missing, found);
            continue;
        }
        seamAt = seam;
        EXPECT_LE(soundtest::LastAbove(heard, 0), static_cast<long>(at) - 1) << "sound after the end";
        if (silence > 0)
            std::cout << "the server fell behind: " << silence << " samples of silence, " << dropped << " dropped\n";
        return;
    }
    FAIL() << "no seam before sample " << firstDifference << " of the voice goes on in the new clip; at best "
           << missing << " samples of it followed";
}

TEST_F(LivePlay, AnEffectChangedWhilePlayingIsHeardWithin150MsAtTheSamePointOfTheVoice)
{
    const struct {
        const char *Name;
        std::function<void(TMainForm &)> Change;
        bool Backward;
    } cases[] = {
        {"Echo button", [](TMainForm &form) { Click(form.EchoButton); }, false},
        {"Backward menu item", [](TMainForm &form) { form.Backward1->trigger(); }, true},
        {"pitch bar", [](TMainForm &form) { QTest::keyClick(form.PitchBar, Qt::Key_End); }, false},
    };
    Start();
    const std::vector<int16_t> voice = Glide(6 * 22050);
    OpenClip(voice);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        form->ResetEffects();
        soundtest::Capture capture("glimmer_speaker.monitor");
        ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
        const int16_t *before = nullptr;
        const int64_t changedAt = PlayAndChangeAt(2 * 22050, [&] {
            before = form->Document.WorkData.get();
            c.Change(*form);
        });
        // The waveform follows the new clip once it is heard.
        ASSERT_TRUE(WaitUntil([&] {
            return form->Document.WorkData.get() != before &&
                   form->WaveDisplay->SampleData() == form->Document.WorkData.get();
        }));
        EXPECT_TRUE(form->Player.Playing);
        EXPECT_TRUE(form->PlayButton->Down());
        // A few ticks later the time display counts in the new clip.
        QTest::qWait(300);
        const int64_t playedAt = DevicePosition(form->Player.WaveOut);
        const int shownMs = ShownMilliseconds(*form);
        WaitUntilPlayIsUp();
        const std::vector<int16_t> heard = Played(capture);

        // The expected clips are made only now: a pipeline run on this
        // thread while playing would hold up the refills.
        const std::vector<int16_t> fresh = Processed(voice);
        ASSERT_NE(fresh, voice) << "the change changes nothing";
        const std::vector<int16_t> work(form->Document.WorkData.get(),
                                        form->Document.WorkData.get() + form->Document.WorkBytes / 2);
        EXPECT_EQ(work, fresh) << "WorkData holds the newly processed clip";
        int32_t seam = -1;
        ExpectSwitched(heard, voice, fresh, c.Backward, seam);
        ASSERT_GE(seam, 0);
        EXPECT_GE(seam, changedAt) << "the sound changed before the change was made";
        EXPECT_LE(seam - changedAt, 22050 * 150 / 1000) << "heard later than 150 ms after the change";
        std::cout << c.Name << ": changed at sample " << changedAt << ", heard from " << seam << " ("
                  << (seam - changedAt) * 1000 / 22050 << " ms later)\n";
        // The new clip's position: reversed, it went on from voice.size() - 1 - seam.
        const int64_t inClip =
            c.Backward ? static_cast<int64_t>(voice.size()) - 1 - seam + (playedAt - seam) : playedAt;
        EXPECT_NEAR(shownMs, inClip * 1000 / 22050, 350) << "the time display does not follow the new clip";
    }
    EXPECT_TRUE(messages.Shown.empty());
}

// The D key as the keyboard sends it, to the control that has the focus.
void SendD(TMainForm &form, QEvent::Type type, bool autoRepeat = false)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &form;
    QKeyEvent key(type, Qt::Key_D, Qt::NoModifier, QStringLiteral("d"), autoRepeat);
    QApplication::sendEvent(target, &key);
}

TEST_F(LivePlay, HoldingDPlaysTheVoiceWithoutEffectsFromTheSamePointAndLettingGoBringsThemBack)
{
    Start();
    const std::vector<int16_t> voice = Glide(6 * 22050);
    OpenClip(voice);
    form->Document.Effects.Robotvoice = true;
    form->Document.Effects.PitchPosition = 3;
    form->ShowEffects();
    const TEffectSet selection = form->Document.Effects;
    const std::vector<int16_t> processed = Processed(voice);
    {
        soundtest::Capture capture("glimmer_speaker.monitor");
        ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
        const int64_t changedAt = PlayAndChangeAt(2 * 22050, [this] { SendD(*form, QEvent::KeyPress); });
        ASSERT_TRUE(WaitUntil([this] { return form->Player.PlayingEffects == TEffectSet{}; }));
        SendD(*form, QEvent::KeyPress, true); // the keyboard repeating: nothing changes
        WaitUntilPlayIsUp();
        const std::vector<int16_t> heard = Played(capture);
        int32_t seam = -1;
        ExpectSwitched(heard, processed, voice, false, seam);
        EXPECT_GE(seam, changedAt);
        EXPECT_LE(seam - changedAt, 22050 * 150 / 1000) << "heard later than 150 ms after the key";
        EXPECT_EQ(form->Document.Effects, selection) << "the selection itself stays";
        EXPECT_FALSE(form->Comparing) << "the end of playback ends the comparison";
    }
    // Held, then let go: the effects come back while it plays on.
    PlayAndChangeAt(22050, [this] { SendD(*form, QEvent::KeyPress); });
    ASSERT_TRUE(WaitUntil([this] { return form->Player.PlayingEffects == TEffectSet{}; }));
    SendD(*form, QEvent::KeyRelease, true); // a repeat's release is not the key let go
    QTest::qWait(200);
    EXPECT_EQ(form->Player.PlayingEffects, TEffectSet{});
    SendD(*form, QEvent::KeyRelease);
    EXPECT_TRUE(WaitUntil([&] { return form->Player.PlayingEffects == selection; }));
    EXPECT_TRUE(form->Player.Playing);
    WaitUntilPlayIsUp();
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(LivePlay, SlowMonsterMidPlayPlaysTheRestAtHalfTheRateFromTheSamePoint)
{
    Start();
    const std::vector<int16_t> voice = Glide(6 * 22050);
    OpenClip(voice);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    const int64_t changedAt = PlayAndChangeAt(2 * 22050, [this] { Click(form->SlowMonstButton); });
    ASSERT_TRUE(WaitUntil([this] { return form->Player.PlayingRate == 11025; }));
    EXPECT_TRUE(form->Player.Playing);
    WaitUntilPlayIsUp();
    const std::vector<int16_t> heard = Played(capture);

    const long offset = Offset(heard, voice);
    ASSERT_GE(offset, 0);
    size_t at = static_cast<size_t>(offset);
    size_t silence = 0;
    size_t dropped = 0;
    const size_t same = Follow(heard, at, voice, 0, voice.size(), silence, &dropped);
    EXPECT_GE(static_cast<int64_t>(same), changedAt) << "changed before the change";
    ASSERT_LT(same, voice.size());
    // Silence a loaded server put in after the switch does not count.
    size_t zeros = 0;
    for (size_t i = at; i < heard.size(); ++i) {
        if (heard[i] != 0)
            continue;
        size_t run = i;
        while (run < heard.size() && heard[run] == 0)
            ++run;
        if (run - i >= 8 && run < heard.size())
            zeros += run - i;
        i = run;
    }
    // Heard at 22050 Hz, the rest of the voice at 11025 Hz lasts twice its
    // length. The point heard is the device's report, which under load may
    // lag what has been heard by some 100 ms (heard again at half speed),
    // and the new device takes a moment to start: half a second either way
    // still tells it from the old rate (the rest once) and from a restart
    // (the whole voice twice).
    const long end = soundtest::LastAbove(heard, 500);
    const long rest = static_cast<long>(voice.size() - same);
    EXPECT_NEAR(end - static_cast<long>(at + zeros), 2 * rest, 0.5 * 22050);
    // And it goes on from the same point of the glide, an octave down.
    const double expected = GlideFrequency(static_cast<double>(same) / 22050) / 2;
    const double measured = soundtest::Frequency(heard, at + 2205, 4410, 22050);
    EXPECT_NEAR(measured, expected, 6) << "started again from elsewhere";
    // Shows the time of the clip itself (rest at 11025 Hz).
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(LivePlay, ABurstOfTenChangesNeverStopsTheSoundAndTheLastOneWins)
{
    Start();
    const std::vector<int16_t> voice = Glide(6 * 22050);
    OpenClip(voice);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    const std::function<void()> changes[] = {
        [this] { Click(form->EchoButton); },
        [this] { QTest::keyClick(form->PitchBar, Qt::Key_End); },
        [this] { Click(form->BackwardButton); },
        [this] { form->Backward1->trigger(); },
        [this] { QTest::keyClick(form->PitchBar, Qt::Key_Home); },
        [this] { Click(form->ChorusButton); },
        [this] { form->Chorus1->trigger(); },
        [this] { QTest::keyClick(form->PitchBar, Qt::Key_End); },
        [this] { Click(form->FlangeButton); },
        [this] { form->Echo1->trigger(); },
    };
    bool alwaysPlaying = true;
    const int64_t changedAt = PlayAndChangeAt(2 * 22050, [&] {
        for (const auto &change : changes) {
            change();
            QTest::qWait(10);
            alwaysPlaying = alwaysPlaying && form->Player.Playing && form->PlayButton->Down();
        }
    });
    TEffectSet last;
    last.Flange = true;
    last.PitchPosition = 12;
    ASSERT_EQ(form->Document.Effects, last);
    ASSERT_TRUE(WaitUntil(
        [&] {
            alwaysPlaying = alwaysPlaying && (!form->Player.Playing || form->PlayButton->Down());
            return !form->Player.Playing;
        },
        30000));
    EXPECT_TRUE(alwaysPlaying) << "Play came up before the end";
    WaitUntilPlayIsUp();
    const std::vector<int16_t> heard = Played(capture);
    // The expected clip is made only now: a pipeline run on this thread
    // while playing would hold up the refills.
    const std::vector<int16_t> fresh = Processed(voice);
    const std::vector<int16_t> work(form->Document.WorkData.get(),
                                    form->Document.WorkData.get() + form->Document.WorkBytes / 2);
    EXPECT_EQ(work, fresh) << "the last selection's clip is the one kept";

    // The voice until the first change, then without a gap to the end, which
    // is the last selection's clip sample for sample.
    const long offset = Offset(heard, voice);
    ASSERT_GE(offset, 0);
    size_t at = static_cast<size_t>(offset);
    size_t silence = 0;
    size_t dropped = 0;
    const size_t changed = Follow(heard, at, voice, 0, voice.size(), silence, &dropped);
    EXPECT_GE(static_cast<int64_t>(changed), changedAt) << "changed before the change";
    // Read backwards from its end, the sound is the last clip's end, through
    // whatever silence a loaded server put in.
    const long end = soundtest::LastAbove(heard, 0);
    const long freshEnd = soundtest::LastAbove(fresh, 0);
    ASSERT_GT(end, offset + 2 * 22050);
    ASSERT_GT(freshEnd, 22050);
    const std::vector<int16_t> heardBackwards(heard.rend() - end - 1, heard.rend() - offset);
    const std::vector<int16_t> freshBackwards(fresh.rend() - freshEnd - 1, fresh.rend());
    size_t back = 0;
    size_t tailSilence = 0;
    const size_t tail = Follow(heardBackwards, back, freshBackwards, 0, freshBackwards.size(), tailSilence, &dropped);
    EXPECT_GE(tail, 22050u) << "the last selection was not heard to the end";
    // Between the voice and the last clip the sound goes on: silence comes
    // only from a server that fell behind for a moment, never for as long
    // as the background runs take.
    const size_t lastClipFrom = static_cast<size_t>(end + 1) - back;
    for (size_t i = at; i + 2205 <= lastClipFrom; i += 441) {
        bool quiet = true;
        for (size_t j = i; j < i + 2205 && quiet; ++j)
            quiet = heard[j] == 0;
        ASSERT_FALSE(quiet) << "the sound stopped for 100 ms at " << i - offset;
    }
}

TEST_F(LivePlay, LoopPlaysThePassesBackToBackUntilPlayIsPressed)
{
    Start();
    EXPECT_TRUE(form->Loop1->isCheckable());
    EXPECT_FALSE(form->Loop1->isChecked());
    form->Loop1->trigger();
    EXPECT_TRUE(form->Loop1->isChecked());
    EXPECT_TRUE(TStartup::StoredPreferences().Loop) << "remembered with the preferences";

    const std::vector<int16_t> voice = Glide(22050 + 3000); // a pass that ends in the middle of a block
    OpenClip(voice);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    bool downThroughout = true;
    // Two passes and a half, by what the monitor has heard.
    const long wanted = static_cast<long>(5 * voice.size() / 2);
    ASSERT_TRUE(WaitUntil(
        [&] {
            downThroughout = downThroughout && form->Player.Playing && form->PlayButton->Down();
            return static_cast<long>(capture.Count()) > wanted + 22050;
        },
        30000));
    EXPECT_TRUE(downThroughout);
    Click(form->PlayButton);
    WaitUntilPlayIsUp();
    const std::vector<int16_t> heard = Played(capture);

    const long offset = Offset(heard, voice);
    ASSERT_GE(offset, 0);
    std::vector<int16_t> twice(voice);
    twice.insert(twice.end(), voice.begin(), voice.end());
    size_t at = static_cast<size_t>(offset);
    size_t silence = 0;
    size_t dropped = 0;
    const size_t missing = Follow(heard, at, twice, 0, twice.size(), silence, &dropped);
    ASSERT_EQ(missing, twice.size()) << "pass " << missing / voice.size() << " sample " << missing % voice.size();
    EXPECT_LT(soundtest::LastAbove(heard, 0), offset + static_cast<long>(5 * voice.size())) << "Play did not stop it";

    // The next window starts with Loop on.
    CloseMainWindow(form);
    Start();
    EXPECT_TRUE(form->Loop1->isChecked());
    EXPECT_TRUE(form->Player.LoopPlayback);
}

TEST_F(LivePlay, WithThePreferenceOffAChangeWaitsForTheNextPlay)
{
    TStartup preferences;
    EXPECT_TRUE(preferences.HearEffectChanges->isChecked()) << "on by default";
    preferences.HearEffectChanges->setChecked(false);
    preferences.SavePreferences();
    Start();
    EXPECT_FALSE(form->HearChangesWhilePlaying);

    const std::vector<int16_t> voice = Glide(3 * 22050);
    OpenClip(voice);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    PlayAndChangeAt(22050, [this] { Click(form->EchoButton); });
    WaitUntilPlayIsUp();
    std::vector<int16_t> heard = Played(capture);
    long offset = Offset(heard, voice);
    ASSERT_GE(offset, 0);
    size_t at = static_cast<size_t>(offset);
    size_t silence = 0;
    size_t dropped = 0;
    EXPECT_EQ(Follow(heard, at, voice, 0, voice.size(), silence, &dropped), voice.size()) << "the change was heard";
    EXPECT_LE(soundtest::LastAbove(heard, 0), static_cast<long>(at) - 1);

    // The next Play has the echo.
    const std::vector<int16_t> echoed = Processed(voice);
    soundtest::Capture again("glimmer_speaker.monitor");
    ASSERT_TRUE(again.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    WaitUntilPlayIsUp();
    heard = Played(again);
    offset = Offset(heard, echoed);
    ASSERT_GE(offset, 0);
    at = static_cast<size_t>(offset);
    EXPECT_EQ(Follow(heard, at, echoed, 0, echoed.size(), silence, &dropped), echoed.size())
        << "the echo was not heard";
}

} // namespace
