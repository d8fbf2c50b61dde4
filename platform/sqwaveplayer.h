/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The recorder: captures one input of the sound server into a WAVE file.
 *
 * AudioStartRecord starts capturing in the background from the recording
 * input numbered inputSource, numbered as the mixer library (tmmixlib.h)
 * numbers its recording inputs, and writes a PCM WAVE file of exactly the
 * asked format to fileName as the sound arrives (its header is kept up to
 * date about twice a second). AudioStopRecord ends it; once it has answered
 * 0, the file is complete and holds every sample that was captured.
 * AudioGetRecordLevel gives the peak of the last fifth of a second in
 * percent of full scale (0..100), 0 when not recording.
 *
 * Formats: 8 or 16 bits, 1 or 2 channels, 1000 to 192000 Hz.
 *
 * The recording comes from the current input device, the same one the
 * mixer shows. When that input or the sound server goes away, the recording
 * ends by itself: the file is finished and holds everything captured until
 * then (it never goes on from another input), and AudioGetRecordState
 * answers RECORD_STATE_ENDED until AudioStopRecord (which answers 0).
 *
 * All may be called from any thread; none waits for the server for more
 * than a second in all, and once the server has failed to answer in that
 * time, starts fail at once (204) until it answers again.
 */
#ifndef GLIMMER_PLATFORM_SQWAVEPLAYER_H
#define GLIMMER_PLATFORM_SQWAVEPLAYER_H

#include "platform/postmessage.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of AudioStartRecord (0 = recording started). */
#define RECORD_ERROR_FORMAT 201 /* the input cannot record at this rate or mode */
#define RECORD_ERROR_MEMORY 202 /* out of memory */
#define RECORD_ERROR_FILE 203   /* the file cannot be created or written */
#define RECORD_ERROR_DEVICE 204 /* no sound server, or no such input */
#define RECORD_ERROR_START 205  /* the server would not start the capture */
#define RECORD_ERROR_BUSY 206   /* a recording is already running */
#define RECORD_ERROR_NOFILE 207 /* no file name */

GLIMMER_EXPORT int16_t AudioStartRecord(const char *fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                                        uint16_t channels, uint16_t inputSource);
/* 0 = stopped (also when nothing was recording). */
GLIMMER_EXPORT int16_t AudioStopRecord(void);
/* What the recorder is doing. */
#define RECORD_STATE_IDLE 0
#define RECORD_STATE_RUNNING 1
#define RECORD_STATE_ENDED 2 /* ended by itself: the input or the server went away */
GLIMMER_EXPORT int16_t AudioGetRecordState(void);
/* Why the file of the last recording holds less than was captured: the
 * errno value of the write that failed (ENOSPC: the disk is full; EFBIG:
 * the file may grow no further, by the process's file-size limit or at the
 * largest size a WAVE file can have), 0 when everything captured was
 * written. Set during a recording, kept after the stop until the next
 * start. */
GLIMMER_EXPORT int32_t AudioGetRecordWriteError(void);
/* *level: 0..100; *unused is set to 0. Either pointer may be NULL. */
GLIMMER_EXPORT void AudioGetRecordLevel(int32_t *level, int32_t *unused);

#ifdef __cplusplus
}
#endif

#endif
