// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/recordsession.h"

#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "platform/sqwaveplayer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

namespace {

// The system's millisecond clock; it wraps after 49.7 days, and the
// differences taken of it wrap with it.
uint32_t SystemMilliseconds()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Makes an empty file of a unique name beginning with "QMB" in the
// temporary folder and writes its name into name; an empty name when none
// could be made, which the recorder then refuses as a missing file name.
void MakeRecordFile(std::array<char, 256> &name)
{
    name.fill('\0');
    std::string pattern = TRecordSession::TemporaryFolder() + "/QMBXXXXXX";
    if (pattern.size() >= name.size())
        return;
    const int file = mkstemp(pattern.data());
    if (file < 0)
        return;
    close(file);
    std::memcpy(name.data(), pattern.c_str(), pattern.size() + 1);
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

TRecordSession::~TRecordSession()
{
    Abandon();
}

std::string TRecordSession::TemporaryFolder()
{
    // $TMPDIR when set, else /tmp; without a closing slash.
    const char *variable = std::getenv("TMPDIR");
    std::string folder = std::filesystem::path(variable && *variable ? variable : "/tmp").lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

int16_t TRecordSession::Start()
{
    MakeRecordFile(RecordFileName);
    const int16_t result = AudioStartRecord(RecordFileName.data(), VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                            VoiceFormat.Channels, static_cast<uint16_t>(InputSource));
    if (result != 0) {
        // Nothing will ever be recorded into it.
        DeleteRecordFile();
        return result;
    }
    if (RecordStartTime == 0)
        RecordStartTime = SystemMilliseconds();
    Recording = true;
    return 0;
}

bool TRecordSession::ShowError(int16_t code, MessageSink &messages)
{
    for (const TRecordError &error : RecordErrors) {
        if (error.Code == code) {
            messages.ShowMessage(error.Text, error.Caption);
            return true;
        }
    }
    return false;
}

bool TRecordSession::Stop()
{
    return AudioStopRecord() == 0;
}

bool TRecordSession::Ended() const
{
    return Recording && AudioGetRecordState() == RECORD_STATE_ENDED;
}

int32_t TRecordSession::Level() const
{
    int32_t level = 0;
    int32_t unused = 0;
    AudioGetRecordLevel(&level, &unused);
    return level;
}

uint32_t TRecordSession::ElapsedMs() const
{
    return SystemMilliseconds() - RecordStartTime;
}

std::string TRecordSession::WriteErrorText(int32_t error, const std::string &folder)
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

bool TRecordSession::LoadTake(TVoiceDocument &document, MessageSink &messages)
{
    Recording = false;
    if (!ReadTake(document, messages))
        return false;
    // The take is in memory: its file is no longer needed.
    DeleteRecordFile();
    return true;
}

std::string TRecordSession::WriteError() const
{
    return WriteErrorText(AudioGetRecordWriteError(), TemporaryFolder());
}

std::string TRecordSession::KeptText() const
{
    return std::string("Create final buffer failed. The recording is kept in the file ") + RecordFileName.data() + ".";
}

void TRecordSession::Finish(TVoiceDocument &document)
{
    RecordFileName.fill('\0');
    RecordStartTime = 0;
    document.Modified = true;
}

bool TRecordSession::ReadTake(TVoiceDocument &document, MessageSink &messages)
{
    // The recorder's file is complete once AudioStopRecord has answered 0:
    // it is read at once.
    std::unique_ptr<int16_t[]> samples;
    int32_t byteCount = 0;
    try {
        TEffectSettings unused;
        samples = ReadWaveFile(RecordFileName.data(), VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                               VoiceFormat.Channels, byteCount, unused, messages);
    } catch (const std::bad_alloc &) {
        document.DropSamples();
        messages.ShowMessage("cannot allocate memory!!!");
        return false;
    }
    // A file the reader could not take (it has said why) is a failed load.
    if (!samples) {
        document.DropSamples();
        return false;
    }
    if (!document.TakeVoice(std::move(samples), byteCount)) {
        messages.ShowMessage("cannot allocate memory!!!");
        return false;
    }
    return true;
}

void TRecordSession::Abandon()
{
    if (!Recording)
        return;
    AudioStopRecord();
    Recording = false;
    DeleteRecordFile();
}

void TRecordSession::DeleteRecordFile()
{
    if (RecordFileName[0] != '\0')
        std::remove(RecordFileName.data());
}
