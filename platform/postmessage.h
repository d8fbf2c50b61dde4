/* SPDX-License-Identifier: GPL-3.0-or-later */
/* How the sound libraries report to a window.
 *
 * Every library in platform/ that sends notifications takes a window (any
 * pointer the caller chooses) and a post function. The post function is
 * called on the library's own audio thread, so it must only queue the
 * message (for example with QCoreApplication::postEvent) and return; the
 * message is handled later on the user-interface thread. It must never call
 * back into the library that posted it.
 */
#ifndef GLIMMER_PLATFORM_POSTMESSAGE_H
#define GLIMMER_PLATFORM_POSTMESSAGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*PostMessageFn)(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

#ifdef __cplusplus
}
#endif

/* The C entry points of the shared libraries; everything else in them is
 * hidden. */
#define GLIMMER_EXPORT __attribute__((visibility("default")))

#endif
