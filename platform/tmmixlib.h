/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The mixer: output and input devices, recording inputs and volumes of the
 * sound server, with change notification.
 *
 * Output devices are the server's sinks, input devices its sources that are
 * not monitors; both are numbered with the server's default first. Device 0
 * is the default wherever it goes: selecting it (or deselecting) follows the
 * server's default output or input as it changes; selecting any other keeps
 * that device. The selection is shared with playback (waveout.h, WAVE_MAPPER)
 * and the recorder (sqwaveplayer.h), so all three use the same devices.
 *
 * The recording inputs are the ports of the current input device, or, when
 * it has no ports, the input devices themselves in the server's own order.
 * One input records at a time (IsMixerMuxType). Selecting an input that is
 * not the one in use makes it the device's active port (a setting of the
 * sound card, for every program), or the server's default input; selecting
 * the one in use changes nothing. GetMicrophoneSourceIndex answers the input
 * in use, so a program that starts by selecting it leaves the server as it
 * was.
 *
 * Volumes are 0 (silent) .. 65535 (100 %), one value per channel; they read
 * back exactly as set. A read with more channels than the device has
 * repeats its last channel; a write with one value sets every channel.
 * At most 32 channel values are read or written.
 *
 * SetCallbackWindow brings what the library knows of the server up to date
 * (waiting for the server, within the bound below) so that the calls after
 * it start from the server as it is; from then on every change it reports,
 * whoever made it,
 * is posted as MM_MIXM_CONTROL_CHANGE with wParam 0 and lParam the
 * identifier of the control it concerns (see GetVolumeIDs):
 *   MIXER_OUTPUT_VOLUME_ID  volume of the selected output device, or which
 *                           device that is (a new default output)
 *   MIXER_INPUT_VOLUME_ID   volume of the current recording input
 *   MIXER_SOURCE_SELECT_ID  which recording input is selected
 *   MIXER_INPUT_LINE_ID     the list of recording inputs or their names
 * A server that restarts is followed by itself: once it is back, whatever
 * differs from what was last posted is posted. The post function runs on
 * the library's audio thread and must only queue.
 *
 * Results of int32_t functions that are not counts or indices: 0 on success,
 * MIXER_ERROR_BADINDEX for an index out of range, MIXER_ERROR_NOSERVER when
 * the server cannot be reached, MIXER_ERROR_PARAM for bad arguments. With no
 * server the counts are 0. Reads answer from what the library knows of the
 * server and never wait (but for the first connection, at most a second);
 * a change waits at most a second for the server, and after a server has
 * failed to answer in that time, changes fail at once until it answers
 * again. Calls may come from any thread.
 */
#ifndef GLIMMER_PLATFORM_TMMIXLIB_H
#define GLIMMER_PLATFORM_TMMIXLIB_H

#include "platform/postmessage.h"

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MM_MIXM_CONTROL_CHANGE 0x3D1

#define MIXER_OUTPUT_VOLUME_ID 1
#define MIXER_INPUT_VOLUME_ID 2
#define MIXER_SOURCE_SELECT_ID 3
#define MIXER_INPUT_LINE_ID 4

#define MIXER_ERROR_BADINDEX 2
#define MIXER_ERROR_NOSERVER 6
#define MIXER_ERROR_PARAM 11

/* The size of the buffer GetInputSourceDescription fills, with its zero. */
#define MIXER_DESCRIPTION_SIZE 256

GLIMMER_EXPORT void SetCallbackWindow(void *window, PostMessageFn post);

GLIMMER_EXPORT int32_t GetNumberOfOutputDevices(void);
GLIMMER_EXPORT int32_t SelectOutputDevice(int32_t index);
GLIMMER_EXPORT int32_t DeSelectOutputDevice(void);
GLIMMER_EXPORT int32_t GetNumberOfInputDevices(void);
GLIMMER_EXPORT int32_t SelectInputDevice(int32_t index);
GLIMMER_EXPORT int32_t DeSelectInputDevice(void);

/* The input whose port or device is a microphone, else the selected one,
 * else 0. */
GLIMMER_EXPORT int32_t GetMicrophoneSourceIndex(void);
GLIMMER_EXPORT int32_t GetNumberOfInputSources(void);
GLIMMER_EXPORT int32_t SelectInputSource(int32_t index);
/* Fills buffer (MIXER_DESCRIPTION_SIZE bytes) with the input's name; an
 * empty string when there is no such input. */
GLIMMER_EXPORT int32_t GetInputSourceDescription(int32_t index, char *buffer);
GLIMMER_EXPORT bool IsCurrentInputSourceSelected(int32_t index);
GLIMMER_EXPORT bool IsMixerMuxType(void);
GLIMMER_EXPORT bool IsMixerMixerType(void);

/* Any pointer may be NULL. */
GLIMMER_EXPORT void GetVolumeIDs(int32_t *outputVolumeID, int32_t *inputVolumeID, int32_t *sourceSelectID,
                                 int32_t *inputLineID);
GLIMMER_EXPORT int32_t GetCurrentInputVolSetting(int32_t channels, int32_t *volumes);
GLIMMER_EXPORT int32_t GetCurrentOutputVolSetting(int32_t channels, int32_t *volumes);
GLIMMER_EXPORT int32_t SetCurrentInputVolSetting(int32_t channels, const int32_t *volumes);
GLIMMER_EXPORT int32_t SetCurrentOutputVolSetting(int32_t channels, const int32_t *volumes);

#ifdef __cplusplus
}
#endif

#endif
