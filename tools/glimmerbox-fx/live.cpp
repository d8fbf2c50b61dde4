// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/glimmerbox-fx/live.h"

#include "platform/virtualmic.h"
#include "tools/glimmerbox-fx/interrupt.h"
#include "tools/glimmerbox-fx/printable.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

constexpr const char *ProgramName = "glimmerbox-fx";

void Say(const std::string &text)
{
    std::fprintf(stderr, "%s: %s\n", ProgramName, Printable(text).c_str());
}

// Standard input, read without waiting: whole lines as they arrive.
class TLineReader {
public:
    // The next whole line, or false when none has arrived (yet).
    bool Next(std::string &line)
    {
        for (;;) {
            const std::size_t end = pending.find('\n');
            if (end != std::string::npos) {
                line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return true;
            }
            if (closed)
                return false;
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, 0) <= 0 || !(input.revents & (POLLIN | POLLHUP)))
                return false;
            char buffer[512];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                closed = true; // the end of input leaves the selection as it is
                if (!pending.empty())
                    pending += '\n';
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            if (pending.size() > 4096 && pending.find('\n') == std::string::npos)
                pending.clear(); // no selection is that long
        }
    }

private:
    std::string pending;
    bool closed = false;
};

} // namespace

int RunLive(const TLiveVoiceSettings &settings, const TEffectWords &effectWords)
{
    if (const std::string refusal = TLiveVoice::Refusal(settings); !refusal.empty()) {
        Say(refusal);
        return 2;
    }
    std::atomic<int> interrupted{0};
    WatchForInterrupts([&interrupted](int signal) { interrupted.store(signal); });

    TLiveVoice live;
    if (const std::string error = live.Start(settings); !error.empty()) {
        Say(error);
        platform::TVirtualMicrophone::Withdraw();
        return 1;
    }
    if (settings.ToSpeakers)
        Say("warning: the live voice plays on the speakers: use headphones, or the microphone hears it again");
    Say(std::string("live: speak now; ") +
        (settings.ToVirtualMic ? "other programs hear you in \"Glimmerbox Voice\"; " : "") + "Ctrl+C stops");

    int status = 0;
    TLineReader lines;
    int64_t startedAt = live.SelectionStartedAt();
    bool changeAwaited = false;
    while (interrupted.load() == 0) {
        if (const std::string failure = live.TakeFailure(); !failure.empty()) {
            Say(failure);
            status = 1;
            break;
        }
        std::string line;
        while (lines.Next(line)) {
            TEffectSet effects;
            if (const std::optional<std::string> error = effectWords(line, effects)) {
                Say("live: " + *error);
                continue;
            }
            if (const std::string refused = live.Change(effects); !refused.empty()) {
                Say("live: " + refused);
                continue;
            }
            changeAwaited = true;
        }
        if (changeAwaited && live.SelectionStartedAt() != startedAt) {
            startedAt = live.SelectionStartedAt();
            changeAwaited = false;
            Say("live: the new effects from input sample " + std::to_string(startedAt));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string error;
    if (!live.Stop(error)) {
        Say(error);
        status = 1;
    }
    platform::TVirtualMicrophone::Withdraw();
    return status;
}
