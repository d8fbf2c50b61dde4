/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Wave-out playback over the sound server.
 *
 * The classic wave-out calls with their usual names, records and result
 * codes, playing through a PulseAudio playback stream. The one difference:
 * instead of a window handle, waveOutOpen takes a window pointer and a post
 * function (see platform/postmessage.h), through which the device posts
 * MM_WOM_OPEN, MM_WOM_DONE and MM_WOM_CLOSE.
 *
 * How to play a clip:
 *
 *     HWAVEOUT device = NULL;
 *     WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
 *     if (waveOutOpen(&device, WAVE_MAPPER, &format, window, post, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR)
 *         ...;                        // 32: format refused; other codes: no server or no sink
 *     WAVEHDR header = {0};
 *     header.lpData = (char *)samples;
 *     header.dwBufferLength = byteCount;
 *     waveOutPrepareHeader(device, &header, sizeof(WAVEHDR));
 *     waveOutWrite(device, &header, sizeof(WAVEHDR));
 *     ...                             // MM_WOM_DONE arrives (or poll: header.dwFlags & WHDR_DONE)
 *     waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR));
 *     waveOutClose(device);
 *
 * Without a window (window and post NULL, CALLBACK_NULL), poll the header's
 * WHDR_DONE flag; it is set from the audio thread.
 *
 * Behaviour:
 * - Blocks play in the order written, each as soon as the one before it;
 *   a block may be of any length (only whole sample frames of each block
 *   are played: a trailing partial frame is skipped). The data is copied
 *   out of the block while it plays; the block must stay untouched until
 *   it is done.
 * - A block is done once the server has played all of it, not when it was
 *   copied: then WHDR_DONE is set, WHDR_INQUEUE cleared, and MM_WOM_DONE
 *   posted with wParam = the device handle and lParam = the header's
 *   address. Done notifications come once per block, in order.
 * - waveOutPause holds the sound (also before the first write) until
 *   waveOutRestart.
 * - waveOutReset silences the device at once, returns every queued block as
 *   done (in order, each once, with MM_WOM_DONE posted from the audio
 *   thread) before it returns, sets the position back to 0 and leaves the
 *   device running (not paused), with its new stream ready. A block the post
 *   function writes again is queued anew, not returned again. It answers
 *   MMSYSERR_NODRIVER when the output is gone (then only close is left).
 * - WAVE_MAPPER plays on the current output: the output device the mixer
 *   selected (tmmixlib.h), else the server's default, followed by the server
 *   when the default changes. A numbered device keeps its output.
 * - waveOutCut replaces what is queued but not yet heard, without a gap:
 *   it drops everything from the cut point on (a byte position, counted as
 *   waveOutGetPosition's TIME_BYTES, a few tens of milliseconds beyond what
 *   is heard now) and returns every queued block as done before it returns,
 *   as waveOutReset does, but the sound goes on: what came before the cut
 *   plays as it was written, and the next block written plays from the cut
 *   on, seamlessly. The caller writes that block at once: the cut is the
 *   earliest the device can still change, and silence follows it until the
 *   next block arrives. The position goes on counting.
 * - waveOutGetPosition counts what has been played since open or the last
 *   reset (after a cut, the next block counts from the cut point): TIME_SAMPLES in sample frames, TIME_BYTES in bytes,
 * TIME_MS in milliseconds; any other asked format is answered in bytes, with wType set to TIME_BYTES.
 * - When the output goes away (the server stops, the stream is killed, or
 *   its sink is removed and the server does not move the stream), every
 *   queued block is returned as done, and waveOutWrite and
 *   waveOutGetPosition answer MMSYSERR_NODRIVER until the device is closed.
 * - Header sizes: sizeof(WAVEHDR), or 32 (the 32-bit size some callers pass).
 * - waveOutClose answers WAVERR_STILLPLAYING while blocks are queued (reset
 *   first).
 * - Threads: every call may come from any thread, but the post function
 *   runs on the audio thread and must only queue; of these calls it may
 *   make none but waveOutWrite, waveOutReset, waveOutCut and
 *   waveOutGetPosition, and
 *   never waveOutOpen or waveOutClose.
 * - No call waits for the server for more than a second in all; once the
 *   server has failed to answer in that time, calls that need it fail at
 *   once until it answers again.
 */
#ifndef GLIMMER_PLATFORM_WAVEOUT_H
#define GLIMMER_PLATFORM_WAVEOUT_H

#include "platform/postmessage.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t MMRESULT;
typedef struct WaveOutDevice *HWAVEOUT;

/* Results. */
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1       /* the server did not answer in time, or a call from the wrong thread */
#define MMSYSERR_BADDEVICEID 2 /* no output device with that number */
#define MMSYSERR_INVALHANDLE 5 /* not an open device */
#define MMSYSERR_NODRIVER 6    /* no sound server, or the server has no output */
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32 /* the format is not PCM or the server will not take it */
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

/* Device numbers: WAVE_MAPPER is the default output; 0, 1, ... are the
 * server's outputs, its default first. */
#define WAVE_MAPPER ((uint32_t)-1)

/* waveOutOpen flags. */
#define CALLBACK_NULL 0x00000000u
#define CALLBACK_WINDOW 0x00010000u
#define CALLBACK_TYPEMASK 0x00070000u
#define WAVE_FORMAT_QUERY 0x00000001u /* only check that the format would open */

/* Messages posted to the window. */
#define MM_WOM_OPEN 0x3BB
#define MM_WOM_CLOSE 0x3BC
#define MM_WOM_DONE 0x3BD

/* Header flags. */
#define WHDR_DONE 0x00000001u
#define WHDR_PREPARED 0x00000002u
#define WHDR_BEGINLOOP 0x00000004u
#define WHDR_ENDLOOP 0x00000008u
#define WHDR_INQUEUE 0x00000010u

/* Position formats. */
#define TIME_MS 0x0001u
#define TIME_SAMPLES 0x0002u
#define TIME_BYTES 0x0004u

#define WAVE_FORMAT_PCM 1

/* Formats: PCM with 8 (unsigned) or 16, 24, 32 (signed, little-endian) bits
 * per sample, 1 to 8 channels, nBlockAlign = channels * bits / 8, any rate
 * the server takes (1 Hz to 384 kHz). nAvgBytesPerSec is not used. */
typedef struct {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WAVEFORMATEX;

typedef struct wavehdr_tag {
    char *lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags; /* WHDR_* */
    uint32_t dwLoops;
    struct wavehdr_tag *lpNext;
    uintptr_t reserved;
} WAVEHDR;

typedef struct {
    uint32_t wType; /* TIME_* */
    union {
        uint32_t ms;
        uint32_t sample;
        uint32_t cb;
        uint32_t ticks;
        struct {
            uint8_t hour, min, sec, frame, fps, dummy;
            uint8_t pad[2];
        } smpte;
        struct {
            uint32_t songptrpos;
        } midi;
    } u;
} MMTIME;

/* Opens the device (window and post may be NULL with CALLBACK_NULL). With
 * WAVE_FORMAT_QUERY only checks that it would open; phwo may then be NULL.
 * On success *phwo is the device and MM_WOM_OPEN is posted. */
MMRESULT waveOutOpen(HWAVEOUT *phwo, uint32_t uDeviceID, const WAVEFORMATEX *pwfx, void *window, PostMessageFn post,
                     uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
/* Replaces what is queued but not yet heard, without a gap. *pcbCut
 * receives the cut point: a device byte position (counted as
 * waveOutGetPosition's TIME_BYTES, on a frame boundary) that is the earliest
 * the device can still change, a short lead (tens of ms) beyond what is
 * being heard now, never before what has been heard and never beyond what
 * was written. Everything from the cut on is dropped: every queued block is
 * returned as done (WHDR_DONE, MM_WOM_DONE posted, in order, each once)
 * before the call returns, as with waveOutReset, but the sound goes on: the
 * bytes before the cut play as they were written, and the next block
 * written plays from the cut on, seamlessly (no gap, no repeated or skipped
 * frame). The position is not reset. While paused the cut is what the
 * server has taken (nothing more is heard until the restart); with nothing
 * queued it is what was written, and nothing changes. MMSYSERR_INVALPARAM
 * for a null pcbCut, MMSYSERR_NODRIVER when the output is gone. */
MMRESULT waveOutCut(HWAVEOUT hwo, uint32_t *pcbCut);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME *pmmt, uint32_t cbmmt);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh);
/* Posts MM_WOM_CLOSE and frees the device. */
MMRESULT waveOutClose(HWAVEOUT hwo);

#ifdef __cplusplus
}
#endif

#endif
