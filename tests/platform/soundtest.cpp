// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/soundtest.h"

#include <pulse/error.h>
#include <pulse/pulseaudio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace soundtest {

void MessageQueue::Post(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto *queue = static_cast<MessageQueue *>(window);
    std::lock_guard<std::mutex> lock(queue->mutex_);
    queue->messages_.push_back({message, wParam, lParam, Clock::now()});
    queue->changed_.notify_all();
}

bool MessageQueue::WaitFor(uint32_t id, size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const Message &m : messages_) {
            n += m.Id == id;
        }
        return n >= count;
    });
}

bool MessageQueue::WaitFor(uint32_t id, intptr_t lParam, Clock::time_point after, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const Message &m : messages_) {
            if (m.Id == id && m.LParam == lParam && m.Time >= after) {
                return true;
            }
        }
        return false;
    });
}

std::vector<MessageQueue::Message> MessageQueue::All(uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Message> found;
    for (const Message &m : messages_) {
        if (m.Id == id) {
            found.push_back(m);
        }
    }
    return found;
}

void MessageQueue::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

Capture::Capture(const std::string &source)
{
    pa_sample_spec spec{PA_SAMPLE_S16LE, 22050, 1};
    // Fragments of 50 ms. PipeWire runs a sink, its monitor and every stream
    // on them in cycles of the shortest latency any of them asks for, rounded
    // down to a power of two: a recording in 20 ms fragments ran the speaker
    // in 256-sample cycles (11.6 ms), shorter than the playback itself asks
    // for, and on a busy machine a cycle missed then showed up in the
    // recording as a wrong or silent stretch that the player never caused.
    pa_buffer_attr attributes{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                              static_cast<uint32_t>(-1), CaptureFragmentBytes};
    int error = 0;
    simple_ = pa_simple_new(nullptr, "glimmer-sound-test", PA_STREAM_RECORD, source.c_str(), "capture", &spec, nullptr,
                            &attributes, &error);
    if (!simple_) {
        ADD_FAILURE() << "cannot record " << source << ": " << pa_strerror(error);
        return;
    }
    thread_ = std::thread([this] {
        std::array<int16_t, 441> buffer{};
        while (!stop_) {
            int error = 0;
            if (pa_simple_read(simple_, buffer.data(), sizeof buffer, &error) < 0) {
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            samples_.insert(samples_.end(), buffer.begin(), buffer.end());
            arrived_.notify_all();
        }
    });
}

Capture::~Capture()
{
    Stop();
    if (simple_) {
        pa_simple_free(simple_);
    }
}

bool Capture::WaitUntilRunning(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [this] { return !samples_.empty(); });
}

size_t Capture::Count()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_.size();
}

std::vector<int16_t> Capture::Stop()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

int Pactl(const std::string &arguments)
{
    std::string command = "pactl " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

std::string PactlOutput(const std::string &arguments)
{
    std::string command = "pactl " + arguments + " 2>&1";
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, n);
        }
        pclose(pipe);
    }
    return output;
}

namespace {

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::string DefaultSink()
{
    return Trimmed(PactlOutput("get-default-sink"));
}

std::string DefaultSource()
{
    return Trimmed(PactlOutput("get-default-source"));
}

bool SetDefaultSource(const std::string &source)
{
    return Pactl("set-default-source " + source) == 0 &&
           Eventually([&source] { return PactlOutput("get-default-source") == source + "\n"; },
                      std::chrono::seconds(5));
}

// The first column of the line of `pactl list short LIST` whose column
// `column` is `value`, or "".
static std::string FindIndex(const std::string &list, size_t column, const std::string &value)
{
    std::istringstream lines(PactlOutput("list short " + list));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() > column && fields[column] == value)
            return fields[0];
    }
    return "";
}

// Our playback stream: the one stream that plays on the speaker (the tone
// inputs play on sinks of their own).
std::string SpeakerStream()
{
    const std::string speaker = FindIndex("sinks", 1, "glimmer_speaker");
    return speaker.empty() ? "" : FindIndex("sink-inputs", 1, speaker);
}

std::vector<std::string> OurPlaybackStreams()
{
    // The sink ("Sink: 3") of each stream our libraries name "Glimmerbox".
    return StreamField("sink-inputs", "Glimmerbox", "Sink");
}

namespace {

// The text between prefix and the end of its line (or ending) in every
// entry of `pactl list LIST` whose media.name is mediaName.
std::vector<std::string> EntryValues(const std::string &list, const std::string &mediaName, const std::string &prefix,
                                     char ending)
{
    std::vector<std::string> values;
    const std::string text = PactlOutput("list " + list);
    const std::string header = list == "sink-inputs" ? "Sink Input #" : "Source Output #";
    for (size_t at = text.find(header); at != std::string::npos;) {
        size_t next = text.find(header, at + header.size());
        const std::string entry = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        size_t value = entry.find(prefix);
        if (entry.find("\tmedia.name = \"" + mediaName + "\"") != std::string::npos && value != std::string::npos) {
            value += prefix.size();
            size_t end = entry.find('\n', value);
            if (ending) {
                end = std::min(end, entry.find(ending, value));
            }
            values.push_back(entry.substr(value, end - value));
        }
        at = next;
    }
    return values;
}

} // namespace

std::vector<std::string> StreamProperty(const std::string &list, const std::string &mediaName, const std::string &key)
{
    return EntryValues(list, mediaName, "\t" + key + " = \"", '"');
}

std::vector<std::string> StreamField(const std::string &list, const std::string &mediaName, const std::string &field)
{
    return EntryValues(list, mediaName, "\t" + field + ": ", 0);
}

void ResetServer()
{
    // A server that has gone (PipeWire 0.3.65's pipewire-pulse has been seen
    // to crash under a burst of streams) fails this test, but is started
    // again, so that the tests after it, and a second run of this one, find
    // a server as the fixture left it.
    if (Pactl("info") != 0) {
        const char *dir = std::getenv("GLIMMER_PULSE_DIR");
        ADD_FAILURE() << "the sound server does not answer; its log is in " << (dir ? dir : "(unset)")
                      << "; starting it again";
        EXPECT_TRUE(RestartServer());
    }
    EXPECT_EQ(Pactl("set-default-sink glimmer_speaker"), 0);
    EXPECT_EQ(Pactl("set-default-source glimmer_line"), 0);
    EXPECT_EQ(Pactl("set-sink-volume glimmer_speaker 65536"), 0);
    EXPECT_EQ(Pactl("set-sink-volume glimmer_headphones 65536"), 0);
    EXPECT_EQ(Pactl("set-source-volume glimmer_mic 65536"), 0);
    EXPECT_EQ(Pactl("set-source-volume glimmer_line 65536"), 0);
    EXPECT_EQ(Pactl("set-source-volume glimmer_sine 65536"), 0);
}

bool WaitUntilListed(const std::string &list, const std::string &device, bool present)
{
    return Eventually(
        [&] {
            const std::string text = PactlOutput("list short " + list);
            return (text.find("\t" + device + "\t") != std::string::npos) == present;
        },
        std::chrono::seconds(5));
}

bool KillSinkInput(uint32_t index)
{
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "glimmer-sound-test");
    int result = -1;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        // Runs the loop until the context is ready or failed, then until the
        // kill has been answered; at most 5 s in all.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline && pa_context_get_state(context) != PA_CONTEXT_READY &&
               PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            pa_mainloop_iterate(loop, 0, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            auto answered = [](pa_context *, int success, void *userdata) { *static_cast<int *>(userdata) = success; };
            if (pa_operation *op = pa_context_kill_sink_input(context, index, answered, &result)) {
                while (Clock::now() < deadline && pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
                    pa_mainloop_iterate(loop, 0, nullptr);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                pa_operation_unref(op);
            }
        }
        pa_context_disconnect(context);
    }
    if (context) {
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return result == 1;
}

bool OnPipeWire()
{
    const char *server = std::getenv("GLIMMER_SOUND_SERVER");
    return server && std::string(server) == "pipewire";
}

double RecordingStartLoss()
{
    return OnPipeWire() ? 0.3 : 0.0;
}

bool RestartServer()
{
    const char *source = std::getenv("GLIMMER_SOURCE_DIR");
    const char *dir = std::getenv("GLIMMER_PULSE_DIR");
    if (!source || !dir) {
        ADD_FAILURE() << "GLIMMER_SOURCE_DIR and GLIMMER_PULSE_DIR name the server";
        return false;
    }
    const char *script = OnPipeWire() ? "pipewire-server.sh" : "pulse-server.sh";
    std::string command = std::string("bash '") + source + "/tests/" + script + "' start '" + dir + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

pid_t ServerPid()
{
    const char *dir = std::getenv("GLIMMER_PULSE_DIR");
    if (!dir) {
        return 0;
    }
    if (!OnPipeWire()) {
        std::ifstream in(std::string(dir) + "/runtime/pulse/pid");
        pid_t pid = 0;
        in >> pid;
        return pid;
    }
    // The pids of everything tests/pipewire-server.sh started: the one that
    // serves the PulseAudio protocol.
    std::ifstream pids(std::string(dir) + "/pids");
    for (pid_t pid = 0; pids >> pid;) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (comm >> name && name == "pipewire-pulse") {
            return pid;
        }
    }
    return 0;
}

bool Eventually(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    Clock::time_point giveUp = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

long FirstAbove(const std::vector<int16_t> &samples, int threshold, size_t from)
{
    for (size_t i = from; i < samples.size(); i++) {
        if (std::abs(samples[i]) > threshold) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

long LastAbove(const std::vector<int16_t> &samples, int threshold)
{
    for (size_t i = samples.size(); i-- > 0;) {
        if (std::abs(samples[i]) > threshold) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

double Frequency(const std::vector<int16_t> &samples, size_t from, size_t count, double rate)
{
    // Where the wave rises through zero, to a fraction of a sample.
    std::vector<double> rises;
    for (size_t i = from + 1; i < from + count && i < samples.size(); i++) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            rises.push_back(static_cast<double>(i - 1) +
                            -samples[i - 1] / static_cast<double>(samples[i] - samples[i - 1]));
        }
    }
    if (rises.size() < 3) {
        return 0;
    }
    std::vector<double> periods;
    for (size_t i = 1; i < rises.size(); i++) {
        periods.push_back(rises[i] - rises[i - 1]);
    }
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    // A gap in the tone (a server that fell behind for a moment) makes one
    // long period: only periods near the usual one count.
    double sum = 0;
    size_t kept = 0;
    for (double period : periods) {
        if (period > median * 0.75 && period < median * 1.25) {
            sum += period;
            kept++;
        }
    }
    return kept * rate / sum;
}

std::vector<unsigned char> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t LE32(const unsigned char *at)
{
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint16_t LE16(const unsigned char *at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

} // namespace soundtest
