/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The media plugin, libglimmer_media.so: everything of the program that
 * uses FFmpeg (libavformat, libavcodec, libswresample), kept apart so that
 * neither program loads FFmpeg, and the hundred libraries it pulls in, until
 * a file needs it. The program loads it with dlopen from its own folder and
 * looks these entry points up by name (audio/media.h does that).
 *
 * Reading: glimmer_media_open reads a sound or video file through a
 * descriptor the caller opened, never by name: only the demuxers of audio
 * and media containers are allowed (no playlists, no concat scripts, no
 * image sequences), nothing else is ever opened on the file's say-so, and
 * the probe reads at most 1 MiB. The first audio stream is decoded; video
 * and other streams are skipped unread. glimmer_media_read hands back the
 * decoded frames interleaved as doubles, 16-bit full scale being 1.0 (as
 * libsndfile's normalised doubles), so the caller mixes down, resamples
 * and rounds exactly as it does for libsndfile.
 *
 * Writing: glimmer_media_write_realaudio encodes a clip as RealAudio 1.0
 * into a descriptor the caller opened (a temporary file it renames when
 * the call succeeds).
 */
#ifndef GLIMMER_AUDIO_MEDIAPLUGIN_H
#define GLIMMER_AUDIO_MEDIAPLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Changes whenever an entry point below changes. */
#define GLIMMER_MEDIA_INTERFACE 1

/* Results. */
#define GLIMMER_MEDIA_OK 0
#define GLIMMER_MEDIA_UNKNOWN 1    /* not a kind of file the plugin reads, or no audio in it */
#define GLIMMER_MEDIA_NO_MEMORY 2  /* an allocation failed */
#define GLIMMER_MEDIA_BROKEN 3     /* the stream changed its rate or channels, or the file cannot be read */

typedef struct GlimmerMediaReader GlimmerMediaReader;

typedef struct {
    int32_t SampleRate; /* of the decoded frames, Hz */
    int32_t Channels;   /* 1..64 */
    int64_t Frames;     /* the container's length in frames, never negative; 0 when it gives none or guesses it */
} GlimmerMediaInfo;

/* GLIMMER_MEDIA_INTERFACE of the plugin; also silences FFmpeg's own log. */
typedef int (*GlimmerMediaInterfaceFn)(void);

/* Opens the file behind fd (read from its start; the descriptor stays the
 * caller's and is not closed) and decodes up to its first frame. On
 * GLIMMER_MEDIA_OK, *reader is set and info describes the frames to come. */
typedef int (*GlimmerMediaOpenFn)(int fd, GlimmerMediaReader **reader, GlimmerMediaInfo *info);

/* Up to maxFrames frames (maxFrames x Channels doubles) into frames: the
 * count given, 0 at the end, or minus one of the results above. Every value
 * is a finite number within +-65536 (a float file's NaN is read as 0). */
typedef int64_t (*GlimmerMediaReadFn)(GlimmerMediaReader *reader, double *frames, int64_t maxFrames);

typedef void (*GlimmerMediaCloseFn)(GlimmerMediaReader *reader);

/* Reports progress from 0 to 100 as the frames are encoded. */
typedef void (*GlimmerMediaProgressFn)(void *context, int32_t percent);

/* Encodes count 16-bit mono samples at sampleRate (1000..192000 Hz) as
 * RealAudio 1.0 at 8000 Hz into fd, from its start: the clip is resampled
 * and encoded a block at a time, its last 20 ms frame filled out with
 * silence. 1 on success; 0 with error (a short sentence, cut to errorSize)
 * on failure. progress may be null. */
typedef int (*GlimmerMediaWriteRealAudioFn)(int fd, const int16_t *samples, size_t count, uint32_t sampleRate,
                                            GlimmerMediaProgressFn progress, void *context, char *error,
                                            size_t errorSize);

#ifdef __cplusplus
}
#endif

#endif
