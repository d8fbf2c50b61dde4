// SPDX-License-Identifier: GPL-3.0-or-later
// How glimmerbox-fx ends on SIGINT, SIGTERM and SIGHUP.
//
//   main thread: signals blocked ---------- work ... [library call] ... work
//   watch thread: sigwait --> signal --+--> stop the library call, wait for it
//                                      +--> remove every temporary file
//                                      +--> _exit(128 + signal)
//
// The signals are taken by a thread of their own (sigwait), not by a
// handler, so that what follows a signal may lock, wait and free. Every
// temporary file the process has made (hidden files beside the outputs,
// converted copies in the temporary folder) is removed, and the targets
// stay as they were: a rename that has happened is a finished file, one
// that has not will not happen. A call into a library that keeps temporary
// files of its own (the MP3 conversion) runs inside a TLibraryCall, which
// the watch thread asks to stop and lets finish its clean-up first.
//
// The batch runner's parent process instead asks to be told (OnInterrupt):
// it stops its workers, reports what finished and ends by itself.
#pragma once

#include <functional>

// Blocks the three signals in the calling thread (and so in every thread
// started after) and starts the watch thread. Call first thing in main,
// and again first thing in a forked worker, which has no watch thread.
// With a notify function the process is told of a signal instead of being
// ended: notify(signal) runs on the watch thread, once.
void WatchForInterrupts(std::function<void(int)> notify = {});

// The signal that interrupted the process, or 0.
int InterruptSignal();

// Removes every temporary file and ends the process with 128 + signal,
// as shells expect of a program a signal ended; once FinishedWith has been
// called, with the status it was given instead.
[[noreturn]] void EndInterrupted(int signal);

// Says that the process's work is done with this exit status (a batch
// worker whose file is in place): a signal from now on ends it with that
// status, not as interrupted.
void FinishedWith(int status);

// Marks a call into a library that removes its own temporary files when
// asked to stop: on a signal, stop() is called and the process ends when
// the call returns (or after a few seconds, whichever comes first).
class TLibraryCall {
public:
    explicit TLibraryCall(void (*stop)());
    ~TLibraryCall();
    TLibraryCall(const TLibraryCall &) = delete;
    TLibraryCall &operator=(const TLibraryCall &) = delete;
};
