/* SPDX-License-Identifier: GPL-3.0-or-later */
/* A third-party caller of the three sound libraries that returns from main
 * without cleaning up: devices selected, a callback window set, and, by the
 * mode given as the first argument, a recording or a playback still running.
 *
 *   exitcaller selected|recording|playing FILE
 *
 * FILE is where the recording goes. Exits 0 when every call it relied on
 * worked; anything else (an abort at exit, a hang) is the libraries' fault.
 */
#include "platform/sqwaveplayer.h"
#include "platform/tmmixlib.h"
#include "platform/waveout.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

static int posts;

static void Post(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    (void)window;
    (void)message;
    (void)wParam;
    (void)lParam;
    __atomic_add_fetch(&posts, 1, __ATOMIC_RELAXED);
}

static void Sleep(long ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

static short clip[22050];

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: exitcaller selected|recording|playing FILE\n");
        return 2;
    }
    const char *mode = argv[1];
    SetCallbackWindow(&posts, Post);
    if (SelectOutputDevice(0) != 0 || SelectInputDevice(0) != 0) {
        fprintf(stderr, "no devices\n");
        return 1;
    }
    int32_t volume = 60000;
    if (SetCurrentOutputVolSetting(1, &volume) != 0 || SetCurrentInputVolSetting(1, &volume) != 0) {
        fprintf(stderr, "volumes refused\n");
        return 1;
    }
    if (strcmp(mode, "recording") == 0) {
        if (AudioStartRecord(argv[2], 22050, 16, 1, 0) != 0) {
            fprintf(stderr, "recording refused\n");
            return 1;
        }
        Sleep(300);
    } else if (strcmp(mode, "playing") == 0) {
        for (size_t i = 0; i < sizeof clip / sizeof clip[0]; i++) {
            clip[i] = (short)((i % 50) * 400 - 10000);
        }
        static HWAVEOUT device;
        static WAVEHDR header;
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
        if (waveOutOpen(&device, WAVE_MAPPER, &format, &posts, Post, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
            fprintf(stderr, "playback refused\n");
            return 1;
        }
        header.lpData = (char *)clip;
        header.dwBufferLength = sizeof clip;
        waveOutPrepareHeader(device, &header, sizeof header);
        if (waveOutWrite(device, &header, sizeof header) != MMSYSERR_NOERROR) {
            fprintf(stderr, "write refused\n");
            return 1;
        }
        Sleep(200);
    } else if (strcmp(mode, "selected") != 0) {
        fprintf(stderr, "unknown mode %s\n", mode);
        return 2;
    }
    /* A change made now is reported on the event thread while main returns. */
    volume = 50000;
    SetCurrentOutputVolSetting(1, &volume);
    return 0;
}
