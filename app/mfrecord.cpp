// Recording: the Record button captures a new voice. The recorder library
// writes what the selected input hears into a WAVE file of the voice format
// (22050 Hz, 16 bits, mono) in the system's temporary folder; the window only
// starts it, shows its level and the elapsed time every tick, and stops it.
//
//   click (down) -> effects to rest, old voice dropped -> temporary "QMB"
//   file -> AudioStartRecord -> ticks: level on VolLED, time in timeDisplay
//   click (up)   -> AudioStopRecord -> ReadWaveFile -> VoiceData, WorkData
//                -> file deleted (kept, and named in the message, when it
//                   cannot be loaded)
//
// A stop the recorder refuses is tried again on every tick while the button
// is up. Closing the window during a recording stops the recorder and loads
// nothing (FormDestroy).
//
// When the input or the sound server goes away, the recorder ends the
// recording by itself with everything it captured; the next tick finds it
// ended, loads that as the voice like a stop would, and says once why the
// recording stopped.

#include "app/mfunit.h"
#include "app/timedisplay.h"
#include "app/waitcursor.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "platform/sqwaveplayer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

// The pitch slider's resting place, between the two breaths.
constexpr int PitchAtRest = 6;

// The system's millisecond clock; it wraps after 49.7 days, and the
// differences taken of it wrap with it.
uint32_t SystemMilliseconds()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Makes an empty file of a unique name beginning with "QMB" in the system's
// temporary folder and writes its name into name; an empty name when none
// could be made, which the recorder then refuses as a missing file name.
void MakeRecordFile(std::array<char, 256> &name)
{
    name.fill('\0');
    std::string pattern = QDir::tempPath().toStdString() + "/QMBXXXXXX";
    if (pattern.size() >= name.size())
        return;
    const int file = mkstemp(pattern.data());
    if (file < 0)
        return;
    close(file);
    std::memcpy(name.data(), pattern.c_str(), pattern.size() + 1);
}

// What to tell the user when the recorder could not write all it captured
// into its file in folder (error: the errno value of the write that failed):
// the recording stopped growing there, and what fitted is the voice. Empty
// when everything was written.
std::string WriteErrorText(int32_t error, const std::string &folder)
{
    const std::string kept = " What fitted is kept as the voice.";
    switch (error) {
    case 0:
        return "";
    case ENOSPC:
    case EDQUOT:
        return "The disk of the temporary folder " + folder +
               " is full: the recording stopped when it ran out of room." + kept;
    case EFBIG:
        return "The recording's file in the temporary folder " + folder +
               " reached the largest size allowed: the recording stopped there." + kept;
    default:
        return "The recording could not be written to the temporary folder " + folder + " (" + std::strerror(error) +
               "): the recording stopped there." + kept;
    }
}

// The recorder's refusals as the user reads them.
struct TRecordError {
    int16_t Code;
    const char *Caption;
    const char *Text;
};

constexpr TRecordError RecordErrors[] = {
    {RECORD_ERROR_FORMAT, "Recording Error ",
     "Your device is unable to record at the rate or mode you have selected.  Please check your manual."},
    {RECORD_ERROR_MEMORY, "Recording Error",
     "Unable to allocate sufficient memory for record operation.  Please exit from other applications and try "
     "again.\")"},
    {RECORD_ERROR_FILE, "Recording Error",
     "Unable to open file for temporary storage of record data.  Please exit from other applications and try "
     "again."},
    {RECORD_ERROR_DEVICE, "Recording Error",
     "Your device is unavailable or unable to record .  Please check your installation."},
    {RECORD_ERROR_START, "Recording Error", "Unable to start recording."},
    {RECORD_ERROR_BUSY, "Recording Error", "Recording already in progress."},
    {RECORD_ERROR_NOFILE, "Recording Error", "Recording file not specified."},
};

} // namespace

void TMainForm::OldRecordButtonClick()
{
    // The button has already flipped: down means start, up means stop.
    if (Playing)
        return; // the tick puts the button up again
    if (Recording) {
        EndRecording();
        return;
    }
    if (!RecordingMayGo()) {
        RecordButton->SetDown(false);
        return;
    }

    VoiceData.reset();
    WorkData.reset();
    VoiceBytes = 0;
    WorkCapacity = 0;
    WorkBytes = 0;

    // A new voice starts with every effect off, whether or not the recorder
    // then starts.
    const struct {
        TQMBL_SawToothButton *Button;
        QAction *Item;
    } effects[] = {
        {EchoButton, Echo1},
        {ChorusButton, Chorus1},
        {RobotvoiceButton, Robotvoice1},
        {BackwardButton, Backward1},
        {FlangeButton, Flange1},
        {FadeInButton, FadeIn1},
        {fadeOutButton, FadeOut1},
        {BassOnlyButton, BassOnly1},
        {TrebleOnlyButton, TrebleOnly1},
        {SweepUpButton, SweepUp1},
        {SweepDownButton, SweepDown1},
        {SlowMonstButton, SlowMonster1},
        {FastSqueakButton, FastSqeaker1},
    };
    for (const auto &effect : effects) {
        if (effect.Button->Down()) {
            effect.Button->SetDown(false);
            effect.Item->setChecked(false);
        }
    }
    if (PitchBar->Position() != PitchAtRest)
        PitchBar->SetPosition(PitchAtRest);

    StartRecording();
    if (!Recording)
        RecordButton->SetDown(false);
}

void TMainForm::StartRecording()
{
    if (Recording || Playing)
        return;
    ClearVoice();

    MakeRecordFile(RecordFileName);
    const int16_t result = AudioStartRecord(RecordFileName.data(), VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                            VoiceFormat.Channels, static_cast<uint16_t>(InputSource));
    if (result != 0) {
        ShowRecordError(result);
        // Nothing will ever be recorded into it.
        DeleteRecordFile();
        return;
    }
    VoiceBytes = 0;
    if (RecordStartTime == 0)
        RecordStartTime = SystemMilliseconds();
    Recording = true;
}

void TMainForm::ShowRecordError(int16_t code)
{
    for (const TRecordError &error : RecordErrors) {
        if (error.Code == code) {
            Messages().ShowMessage(error.Text, error.Caption);
            return;
        }
    }
}

uint32_t TMainForm::RecordElapsedMs() const
{
    return SystemMilliseconds() - RecordStartTime;
}

void TMainForm::RecordTickStop()
{
    if (Recording && AudioGetRecordState() == RECORD_STATE_ENDED) {
        AudioStopRecord();
        FinishRecording();
        Save1->setEnabled(true);
        SaveAs1->setEnabled(true);
        Export1->menuAction()->setEnabled(true);
        Messages().ShowMessage("Recording stopped: the sound input is no longer available.");
        return;
    }
    if (!RecordButton->Down() && Recording)
        EndRecording();
}

void TMainForm::RecordTickProgress()
{
    int32_t level = 0;
    int32_t unused = 0;
    AudioGetRecordLevel(&level, &unused);
    VolLED->SetProgress(static_cast<float>(level * 0.01));
    ShowPosition(PositionFromElapsedMs(RecordElapsedMs()));
}

// Stops the recorder and loads the take; false when the recorder refused
// to stop, which the timer tries again.
bool TMainForm::EndRecording()
{
    if (AudioStopRecord() != 0)
        return false;
    FinishRecording();
    return true;
}

void TMainForm::FinishRecording()
{
    Recording = false;
    const bool loaded = LoadRecordedVoice();
    if (loaded) {
        ShowVoiceLength();
        ShowVoice();
        // The take is in memory: its file is no longer needed.
        DeleteRecordFile();
        const std::string text =
            WriteErrorText(AudioGetRecordWriteError(), QFile::encodeName(QDir::tempPath()).toStdString());
        if (!text.empty())
            Messages().ShowMessage(text);
    } else {
        // Whatever was read before the failure goes: a voice without its
        // working copy could not be played or processed. The take itself
        // stays on disk, where the message says.
        ClearVoice();
        Messages().ShowMessage(std::string("Create final buffer failed. The recording is kept in the file ") +
                               RecordFileName.data() + ".");
    }
    RecordFileName.fill('\0');
    RecordStartTime = 0;
    Modified = true;
    RecordButton->SetDown(false);
    VolLED->SetProgress(0);
    UpdateFileMenus();
}

bool TMainForm::LoadRecordedVoice()
{
    WaitCursor hourglass;

    // The recorder's file is complete once AudioStopRecord has answered 0:
    // it is read at once.
    try {
        TEffectSettings unused;
        int32_t byteCount = 0;
        VoiceData = ReadWaveFile(RecordFileName.data(), VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                 VoiceFormat.Channels, byteCount, unused, Messages());
        VoiceBytes = VoiceData ? byteCount : 0;
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("cannot allocate memory!!!");
        return false;
    }
    // A file the reader could not take (it has said why) is a failed load:
    // the take stays on disk.
    if (!VoiceData)
        return false;

    WorkCapacity = VoiceBytes;
    WorkData.reset(new (std::nothrow) int16_t[static_cast<size_t>(WorkCapacity) / 2 + 1]());
    if (!WorkData) {
        Messages().ShowMessage("cannot allocate memory!!!");
        return false;
    }
    if (WorkCapacity > 0)
        std::memcpy(WorkData.get(), VoiceData.get(), static_cast<size_t>(WorkCapacity));
    return true;
}

void TMainForm::DeleteRecordFile()
{
    if (RecordFileName[0] != '\0')
        std::remove(RecordFileName.data());
}
