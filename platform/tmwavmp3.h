/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The WAVE-to-MP3 conversion library: converts a whole PCM WAVE file to an
 * MP3 file in one blocking call, over the shine encoder.
 *
 * ConvertWaveFileToMp3 reads a RIFF "WAVE" file with a PCM "fmt " chunk
 * (8 or 16 bits, 1 or 2 channels, a sample rate the encoder knows) and
 * writes a constant bit rate MPEG Layer III file. bitRate is in bits per
 * second (e.g. 64000). It returns 0 or one of the codes below. The MP3 is
 * written to a temporary file beside the destination and renamed over it
 * only when the conversion has finished: on any failure or stop a file
 * already at the destination keeps every byte, and no file is left behind.
 *
 * GetStatusWavToMP3 gives the percentage of the running (or last)
 * conversion, 0..100, and StopConversionWavToMP3 asks a running conversion
 * to stop (it then returns TMWAVMP3_USER_ABORT); both may be called from any
 * thread, the stop is harmless when nothing runs. One conversion at a time.
 */
#ifndef GLIMMER_PLATFORM_TMWAVMP3_H
#define GLIMMER_PLATFORM_TMWAVMP3_H

#include "platform/postmessage.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TMWAVMP3_CODEC_NOT_FOUND 400 /* the encoder cannot take this sample rate */
#define TMWAVMP3_NO_MEMORY 402       /* the encoder or a buffer could not be allocated */
#define TMWAVMP3_NO_FORMAT 405       /* not a PCM format the encoder takes */
#define TMWAVMP3_BITRATE 406         /* the encoder cannot make this bit rate at this sample rate */
#define TMWAVMP3_OPEN_OUTPUT 408     /* the MP3 file cannot be created */
#define TMWAVMP3_CLOSE_ERROR 409     /* the MP3 file could not be closed */
#define TMWAVMP3_USER_ABORT 431      /* stopped by StopConversionWavToMP3 */
#define TMWAVMP3_NO_SPACE 432        /* the MP3 bytes could not all be written */
#define TMWAVMP3_OPEN_INPUT 433      /* the WAVE file cannot be opened or read */
#define TMWAVMP3_NO_RIFF 434         /* no RIFF "WAVE" header or no "fmt " chunk */
#define TMWAVMP3_NO_DATA 435         /* no "data" chunk */

GLIMMER_EXPORT int16_t ConvertWaveFileToMp3(const char *source, const char *destination, int32_t bitRate);
GLIMMER_EXPORT int16_t GetStatusWavToMP3(void);
GLIMMER_EXPORT void StopConversionWavToMP3(void);

#ifdef __cplusplus
}
#endif

#endif
