// SPDX-License-Identifier: GPL-3.0-or-later
// The batch runner.
//
//   parent: plan (output names, refusals) --> keep up to Jobs workers busy
//           --> poll their pipes --> on end of pipe: wait, report one line
//   worker: standard error into its pipe --> processOne --> _exit(status)
//
// Workers are processes, not threads: the effect pipeline and the MP3
// conversion library keep process-wide state (the gauge step, the
// conversion's status), and a worker that crashes on a hostile file takes
// only its own file with it. What a worker says on standard error comes back
// through its pipe and becomes the reason on its file's one line.
//
// On SIGINT, SIGTERM or SIGHUP the parent starts no more workers, passes
// SIGTERM on to those running (each removes its temporary files and ends),
// reports every file that ended and how many were written, and ends with
// 128 + the signal's number.
#include "tools/glimmerbox-fx/batch.h"

#include "tools/glimmerbox-fx/interrupt.h"
#include "tools/glimmerbox-fx/printable.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>

namespace {

constexpr const char *ProgramName = "glimmerbox-fx";
constexpr std::string_view Prefix = "glimmerbox-fx: ";

struct Worker {
    pid_t pid = -1;
    int pipe = -1;
    std::size_t job = 0;
    std::string said;
};

// A worker's words as one line: its lines joined by "; ", each without
// the tool's name in front.
std::string OneLine(const std::string &text)
{
    std::string line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view part(text.data() + start, end - start);
        if (part.substr(0, Prefix.size()) == Prefix)
            part.remove_prefix(Prefix.size());
        if (!part.empty())
            line += (line.empty() ? "" : "; ") + std::string(part);
        start = end + 1;
    }
    return line;
}

class Reporter {
public:
    Reporter(std::size_t total, bool bar) : total(total), bar(bar) {}

    // note: what the worker said about the file it wrote (a warning), if
    // anything; it follows the file's line on standard error.
    void Written(const std::string &input, const std::string &output, const std::string &note)
    {
        ++done;
        if (!bar) {
            std::printf("%s -> %s\n", Printable(input).c_str(), Printable(output).c_str());
            std::fflush(stdout);
        }
        if (!note.empty())
            Say(input, note);
        if (bar)
            Draw();
        std::fflush(stderr);
    }
    void Failed(const std::string &input, const std::string &reason)
    {
        ++done;
        ++failed;
        Say(input, reason);
        if (bar)
            Draw();
        std::fflush(stderr);
    }
    void Finish()
    {
        if (bar && done > 0)
            std::fputc('\n', stderr);
    }
    std::size_t FailedCount() const { return failed; }
    std::size_t WrittenCount() const { return done - failed; }

private:
    // "glimmerbox-fx: INPUT: text" on a line of its own, above the bar.
    void Say(const std::string &input, const std::string &text)
    {
        if (bar)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Printable(input).c_str(), Printable(text).c_str());
    }
    void Draw()
    {
        constexpr std::size_t Width = 40;
        const std::size_t filled = total ? done * Width / total : Width;
        std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu files", static_cast<int>(filled),
                     "########################################", static_cast<int>(Width - filled), "", done, total);
    }

    std::size_t total;
    bool bar;
    std::size_t done = 0;
    std::size_t failed = 0;
};

// Starts processOne for input/output in a new process whose standard error
// goes into a pipe; false (with the reason) when it cannot be started.
bool StartWorker(const std::string &input, const std::string &output,
                 const std::function<int(const std::string &, const std::string &)> &processOne, Worker &worker,
                 std::string &reason)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        reason = std::string("cannot start a worker: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        reason = std::string("cannot start a worker: ") + std::strerror(errno);
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0) {
        // The worker ends by itself on a signal, its temporary files removed.
        WatchForInterrupts();
        ::close(ends[0]);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        int status = 1;
        try {
            status = processOne(input, output);
            FinishedWith(status);
        } catch (...) {
            std::fprintf(stderr, "%s: %s failed\n", ProgramName, input.c_str());
        }
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
    ::close(ends[1]);
    worker.pid = pid;
    worker.pipe = ends[0];
    worker.said.clear();
    return true;
}

// Reads what is there; false at the end of the pipe.
bool ReadSome(Worker &worker)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(worker.pipe, buffer, sizeof buffer);
        if (got > 0) {
            // A worker that talks without end is not kept in memory without end.
            if (worker.said.size() < 65536)
                worker.said.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// Waits for a worker whose pipe has ended: its file's status and reason.
int Collect(Worker &worker, std::string &reason)
{
    ::close(worker.pipe);
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    reason = OneLine(worker.said);
    if (WIFSIGNALED(status)) {
        reason += (reason.empty() ? "" : "; ") + std::string("the worker stopped on signal ") +
                  std::to_string(WTERMSIG(status));
        return 1;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    if (code != 0 && reason.empty())
        reason = "failed (exit status " + std::to_string(code) + ")";
    return code;
}

// Whether output names input itself: the same file (the output looked at
// without following a link, as it will be replaced) or the same name.
bool IsItsOwnOutput(const std::string &input, const std::string &output)
{
    struct stat out {};
    if (::lstat(output.c_str(), &out) == 0) {
        struct stat in {};
        if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return true;
        if (::lstat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return true;
    }
    std::error_code inError;
    std::error_code outError;
    const std::filesystem::path a = std::filesystem::absolute(input, inError).lexically_normal();
    const std::filesystem::path b = std::filesystem::absolute(output, outError).lexically_normal();
    return !inError && !outError && a == b;
}

// The write end of the pipe that wakes the parent's poll on a signal.
int WakeUp = -1;

} // namespace

std::string BatchOutputName(const BatchRequest &request, const std::string &input)
{
    return (std::filesystem::path(request.OutDir) / std::filesystem::path(input).stem()).string() + "." +
           request.Extension;
}

int DefaultJobs()
{
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(std::min<long>(online, 256)) : 1;
}

int RunBatch(const BatchRequest &request,
             const std::function<int(const std::string &, const std::string &)> &processOne)
{
    std::error_code error;
    std::filesystem::create_directories(request.OutDir, error);
    if (!std::filesystem::is_directory(request.OutDir)) {
        std::fprintf(stderr, "%s: cannot make the folder %s\n", ProgramName, request.OutDir.c_str());
        return 1;
    }

    Reporter report(request.Inputs.size(), ::isatty(STDERR_FILENO) != 0);
    // A crashed worker's pipe must not end the whole run.
    std::signal(SIGPIPE, SIG_IGN);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "%s: cannot start: %s\n", ProgramName, std::strerror(errno));
        return 1;
    }
    WakeUp = wake[1];
    WatchForInterrupts([](int) {
        const char byte = 0;
        const ssize_t sent = ::write(WakeUp, &byte, 1);
        (void)sent;
    });

    // Each output once: a second input of the same name fails, as does one
    // whose output is there already (unless forced).
    std::vector<std::size_t> queue;
    std::set<std::string> claimed;
    for (std::size_t i = 0; i < request.Inputs.size(); ++i) {
        const std::string output = BatchOutputName(request, request.Inputs[i]);
        const std::string key = std::filesystem::weakly_canonical(output, error).string();
        if (IsItsOwnOutput(request.Inputs[i], output)) {
            report.Failed(request.Inputs[i], "it would be its own output; it is left as it is");
        } else if (!claimed.insert(error ? output : key).second) {
            report.Failed(request.Inputs[i], "another input already writes " + output);
        } else if (!request.Force && std::filesystem::exists(std::filesystem::symlink_status(output, error))) {
            report.Failed(request.Inputs[i], output + " is already there (--force replaces it)");
        } else {
            queue.push_back(i);
        }
    }

    const std::size_t jobs = static_cast<std::size_t>(std::max(request.Jobs, 1));
    std::vector<Worker> running;
    std::size_t next = 0;
    int interrupted = 0;
    while ((next < queue.size() && interrupted == 0) || !running.empty()) {
        while (running.size() < jobs && next < queue.size() && interrupted == 0) {
            const std::size_t job = queue[next++];
            const std::string &input = request.Inputs[job];
            Worker worker;
            worker.job = job;
            std::string reason;
            if (StartWorker(input, BatchOutputName(request, input), processOne, worker, reason))
                running.push_back(std::move(worker));
            else
                report.Failed(input, reason);
        }
        if (running.empty())
            continue;

        std::vector<pollfd> watched;
        for (const Worker &worker : running)
            watched.push_back({worker.pipe, POLLIN, 0});
        watched.push_back({wake[0], POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            break;
        if (interrupted == 0 && (interrupted = InterruptSignal()) != 0)
            for (const Worker &worker : running)
                ::kill(worker.pid, SIGTERM);
        for (std::size_t i = running.size(); i-- > 0;) {
            if (watched[i].revents == 0 || ReadSome(running[i]))
                continue;
            std::string reason;
            const std::string &input = request.Inputs[running[i].job];
            // A worker that a signal to the whole group ended may be seen
            // before the parent's own signal is.
            const int status = Collect(running[i], reason);
            const bool stopped = status == 128 + SIGINT || status == 128 + SIGTERM || status == 128 + SIGHUP;
            if (status == 0)
                report.Written(input, BatchOutputName(request, input), reason);
            else if (interrupted != 0 || stopped)
                report.Failed(input, "interrupted; " + BatchOutputName(request, input) + " is left as it was");
            else
                report.Failed(input, reason);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    report.Finish();
    ::close(wake[0]);
    if (interrupted != 0) {
        std::fprintf(stderr, "%s: interrupted by signal %d: %zu of %zu files written\n", ProgramName, interrupted,
                     report.WrittenCount(), request.Inputs.size());
        return 128 + interrupted;
    }
    return report.FailedCount() == 0 ? 0 : 1;
}
