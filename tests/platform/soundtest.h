// SPDX-License-Identifier: GPL-3.0-or-later
// What the sound tests share.
#pragma once

#include <pulse/simple.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soundtest {

using Clock = std::chrono::steady_clock;

// Receives what a library posts, on whatever thread it posts from.
class MessageQueue {
public:
    struct Message {
        uint32_t Id;
        uintptr_t WParam;
        intptr_t LParam;
        Clock::time_point Time;
    };

    // The PostMessageFn: window is the queue.
    static void Post(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

    // Waits until count messages with this id have arrived (or timeout).
    bool WaitFor(uint32_t id, size_t count, std::chrono::milliseconds timeout);
    // Waits for one with this id and lParam that arrived after `after`.
    bool WaitFor(uint32_t id, intptr_t lParam, Clock::time_point after, std::chrono::milliseconds timeout);
    std::vector<Message> All(uint32_t id);
    void Clear();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
};

// The fragment size Capture asks for: 50 ms of s16le mono 22050 Hz.
constexpr uint32_t CaptureFragmentBytes = 1102 * 2;

// Records a source (usually a sink's monitor) as s16le mono 22050 Hz on a
// thread of its own, in fragments of CaptureFragmentBytes.
class Capture {
public:
    explicit Capture(const std::string &source);
    ~Capture();
    // True once the first data has arrived.
    bool WaitUntilRunning(std::chrono::milliseconds timeout);
    std::vector<int16_t> Stop();
    size_t Count();

private:
    pa_simple *simple_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<int16_t> samples_;
};

// Runs pactl with these arguments; its exit status.
int Pactl(const std::string &arguments);
// Runs pactl and returns what it printed.
std::string PactlOutput(const std::string &arguments);
// The server's default output and input, by name.
std::string DefaultSink();
std::string DefaultSource();
// Makes source the server's default input and waits (at most 5 s) until the
// server reports it so: PipeWire's session manager makes the change after
// pactl has returned. True when it did.
bool SetDefaultSource(const std::string &source);
// Waits (at most 5 s) until `pactl list short SOURCES-OR-SINKS` shows the
// device (present) or no longer shows it. PipeWire makes and removes devices
// after pactl has returned; PulseAudio before.
bool WaitUntilListed(const std::string &list, const std::string &device, bool present = true);
// Has the server throw out a playback stream, as its kill command does (pactl
// has none): true when the server did.
bool KillSinkInput(uint32_t index);
// The index of the one playback stream on glimmer_speaker (the tone inputs
// play on sinks of their own), or "".
std::string SpeakerStream();
// The playback streams our libraries have on the server (not the tone
// generators or loopbacks of the test server itself): the index of the sink
// each plays on, as `pactl list sink-inputs` shows them.
std::vector<std::string> OurPlaybackStreams();
// The value of property key (without its quotes) of every stream in
// `pactl list LIST` (sink-inputs, source-outputs) whose media.name is
// mediaName, in the server's order.
std::vector<std::string> StreamProperty(const std::string &list, const std::string &mediaName, const std::string &key);
// The same for a field of the entry itself ("Buffer Latency: 249977 usec"
// gives "249977 usec").
std::vector<std::string> StreamField(const std::string &list, const std::string &mediaName, const std::string &field);
// Puts the test server back as tests/pulse-server.sh left it: defaults and
// 100 % volumes.
void ResetServer();

// True when the test runs against the PipeWire server (GLIMMER_SOUND_SERVER,
// set by glimmer_add_test), false against PulseAudio.
bool OnPipeWire();

// How much of the start of a recording the server may lose: PipeWire's
// session manager links a new record stream to its source about 0.2 s after
// the stream is made, so the first 0.2 s of a recording never arrive there;
// PulseAudio delivers within a few milliseconds.
double RecordingStartLoss();
// Starts the test server again (tests/pulse-server.sh start), as a crash
// and restart of the desktop's sound system would; true when it is back.
bool RestartServer();
// The test server's process that serves the clients (pulseaudio, or
// pipewire-pulse), 0 when it cannot be found.
pid_t ServerPid();

// Polls done() every 10 ms until it holds or the timeout passes: for what
// the libraries learn from the server's own reports, a moment after a
// change made with pactl.
bool Eventually(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(2));

// Index of the first sample whose magnitude exceeds threshold, or -1.
long FirstAbove(const std::vector<int16_t> &samples, int threshold, size_t from = 0);
long LastAbove(const std::vector<int16_t> &samples, int threshold);
// The frequency of a stretch of a sine, from the periods between its rises
// through zero; a gap in the tone does not count.
double Frequency(const std::vector<int16_t> &samples, size_t from, size_t count, double rate);

std::vector<unsigned char> ReadFile(const std::string &path);
uint32_t LE32(const unsigned char *at);
uint16_t LE16(const unsigned char *at);

} // namespace soundtest
