/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The LAME encoder library's chunk interface, over libmp3lame. The program
 * loads it at run time (dlopen) and looks the four entry points up by name.
 *
 * beInitStream takes a configuration record (TLameConfig, little-endian
 * 32-bit words, LAME_CONFIG_SIZE bytes with the rest zero) and answers the
 * number of 16-bit samples to give each beEncodeChunk call, the size of the
 * output buffer the caller must pass, and a stream handle. beEncodeChunk
 * takes up to twice that many samples (interleaved when the stream has two
 * channels) and writes the MP3 bytes it produced; beDeinitStream writes the
 * encoder's last bytes; beCloseStream releases the stream.
 *
 * The output sample rate 0 means "the same as the input". The bit rate must
 * be one the MPEG version of that rate has: 32..320 kbit/s at 32000, 44100
 * and 48000 Hz, 8..160 kbit/s below. Streams are independent and may be used
 * from any thread, one thread per stream at a time.
 */
#ifndef GLIMMER_PLATFORM_LAME_ENC_H
#define GLIMMER_PLATFORM_LAME_ENC_H

#include "platform/postmessage.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LAME_CONFIG_KIND 256 /* the record's first word */
#define LAME_CONFIG_VERSION 1
#define LAME_CONFIG_SIZE 331

#define LAME_MODE_DUAL_CHANNEL 2
#define LAME_MODE_MONO 3

/* Results (0 = success). */
#define LAME_ENC_OK 0
#define LAME_ENC_BAD_FORMAT 1       /* not a record of this kind, version or size */
#define LAME_ENC_BAD_PARAMETERS 2   /* a rate, mode or bit rate the encoder cannot make */
#define LAME_ENC_NO_HANDLES 3       /* too many open streams */
#define LAME_ENC_BAD_HANDLE 4       /* no such stream */
#define LAME_ENC_BUFFER_TOO_SMALL 5 /* more samples than the output buffer can hold */
#define LAME_ENC_ENCODER_FAILED 6   /* the encoder reported an error */

/* The record's first 76 bytes; the rest of the LAME_CONFIG_SIZE bytes are zero. */
typedef struct {
    uint32_t Kind;           /* LAME_CONFIG_KIND */
    uint32_t Version;        /* LAME_CONFIG_VERSION */
    uint32_t Size;           /* LAME_CONFIG_SIZE */
    uint32_t SampleRate;     /* of the input, Hz */
    uint32_t OutSampleRate;  /* 0 = as the input */
    uint32_t Mode;           /* LAME_MODE_MONO or LAME_MODE_DUAL_CHANNEL */
    uint32_t BitRate;        /* kbit/s */
    uint32_t MaxBitRate;     /* kbit/s, used only with VBR */
    uint32_t Preset;         /* quality preset, 0..9 (0 best) */
    uint32_t MpegVersion;    /* 1; the version follows from the output rate */
    uint32_t PsyModel;       /* not used */
    uint32_t Emphasis;       /* 0 none, 1 50/15 us, 3 CCITT */
    uint32_t Private;        /* private bit */
    uint32_t Crc;            /* CRC protection */
    uint32_t Copyright;      /* copyright bit */
    uint32_t Original;       /* original bit */
    uint32_t WriteVbrHeader; /* a VBR/Xing header frame */
    uint32_t EnableVbr;      /* variable bit rate */
    uint32_t VbrQuality;     /* 0..9 */
} TLameConfigHead;

typedef struct {
    TLameConfigHead Head;
    uint8_t Reserved[LAME_CONFIG_SIZE - sizeof(TLameConfigHead)];
} __attribute__((packed)) TLameConfig;

typedef uint32_t (*BeInitStreamFn)(const TLameConfig *config, uint32_t *samplesPerChunk, uint32_t *outputBufferSize,
                                   uint32_t *stream);
typedef uint32_t (*BeEncodeChunkFn)(uint32_t stream, uint32_t samples, const int16_t *data, uint8_t *output,
                                    uint32_t *outputBytes);
typedef uint32_t (*BeDeinitStreamFn)(uint32_t stream, uint8_t *output, uint32_t *outputBytes);
typedef uint32_t (*BeCloseStreamFn)(uint32_t stream);

GLIMMER_EXPORT uint32_t beInitStream(const TLameConfig *config, uint32_t *samplesPerChunk, uint32_t *outputBufferSize,
                                     uint32_t *stream);
GLIMMER_EXPORT uint32_t beEncodeChunk(uint32_t stream, uint32_t samples, const int16_t *data, uint8_t *output,
                                      uint32_t *outputBytes);
GLIMMER_EXPORT uint32_t beDeinitStream(uint32_t stream, uint8_t *output, uint32_t *outputBytes);
GLIMMER_EXPORT uint32_t beCloseStream(uint32_t stream);

#ifdef __cplusplus
}
#endif

#endif
