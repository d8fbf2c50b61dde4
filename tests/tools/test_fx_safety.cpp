// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx against careless and hostile use, run as a real process:
// signals in the middle of a write, a batch that could eat its own input or
// follow a link out of its folder, an empty voice, names that would forge
// report lines, and the reason a write failed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string Slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A 16-bit mono WAVE file at rate of a tone that never rests, count samples.
void WriteTone(const fs::path &path, std::size_t count, uint32_t rate = 22050)
{
    auto put = [](std::string &s, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string s = "RIFF";
    put(s, 36 + 2 * static_cast<uint32_t>(count), 4);
    s += "WAVEfmt ";
    put(s, 16, 4);
    put(s, 1, 2);
    put(s, 1, 2);
    put(s, rate, 4);
    put(s, rate * 2, 4);
    put(s, 2, 2);
    put(s, 16, 2);
    s += "data";
    put(s, 2 * static_cast<uint32_t>(count), 4);
    s.reserve(s.size() + 2 * count);
    for (std::size_t i = 0; i < count; ++i)
        put(s, static_cast<uint16_t>(static_cast<int16_t>((i * 613) % 16000 - 8000)), 2);
    Spit(path, s);
}

std::vector<std::string> Hidden(const fs::path &folder)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().rfind(".gbx", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

class ToolSafety : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/glimmerbox-fx-safety-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_directory(dir / "tmp");
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts the tool in dir, in a process group of its own, with its
    // temporary folder dir/tmp and its output in files.
    pid_t Start(const std::vector<std::string> &args) const
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            if (::chdir(dir.c_str()) != 0)
                ::_exit(127);
            ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
            const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            const char *build = std::getenv("GLIMMER_BUILD_DIR");
            const std::string tool = std::string(build ? build : ".") + "/glimmerbox-fx";
            std::vector<char *> argv{const_cast<char *>(tool.c_str())};
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(tool.c_str(), argv.data());
            ::_exit(127);
        }
        ::setpgid(pid, pid);
        return pid;
    }
    static int Finish(pid_t pid)
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Run(const std::vector<std::string> &args) const { return Finish(Start(args)); }
    std::string Out() const { return Slurp(dir / "stdout.txt"); }
    std::string Err() const { return Slurp(dir / "stderr.txt"); }
    fs::path Path(const std::string &name) const { return dir / name; }

    // Waits (up to 20 s) until the process has a hidden temporary file in
    // folder and ready() holds; false when it ended first.
    static bool WaitForHiddenFile(pid_t pid, const fs::path &folder, const std::function<bool()> &ready = {})
    {
        const auto deadline = steady_clock::now() + seconds(20);
        while (steady_clock::now() < deadline) {
            // ready() first: a hidden file seen after it is one made since.
            if ((!ready || ready()) && !Hidden(folder).empty())
                return true;
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return false;
            std::this_thread::sleep_for(microseconds(200));
        }
        return false;
    }

    fs::path dir;
};

TEST_F(ToolSafety, ASignalDuringAWriteRemovesEveryTemporaryFileAndKeepsTheTarget)
{
    // Twenty minutes of voice: writing takes long enough to be caught. The
    // one at 44100 Hz is caught while its converted copy is written to the
    // temporary folder.
    WriteTone(Path("long.wav"), 22050 * 60 * 20);
    WriteTone(Path("long44.wav"), 44100 * 60 * 20, 44100);
    std::vector<std::pair<std::string, std::string>> runs{
        {"long.wav", "out.wav"}, {"long.wav", "out.flac"}, {"long.wav", "out.ra"}, {"long44.wav", "out44.wav"}};
#ifdef GLIMMER_FX_MP3
    runs.emplace_back("long.wav", "out.mp3");
#endif
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const int signal = signals[i % 3];
        const auto &[input, output] = runs[i];
        SCOPED_TRACE(input + " -> " + output + ", signal " + std::to_string(signal));
        Spit(Path(output), "the old file");
        const pid_t pid = Start({input, output});
        if (!WaitForHiddenFile(pid, dir)) {
            ADD_FAILURE() << "the write ended before it could be interrupted: " << Err();
            Finish(pid);
            continue;
        }
        ::kill(pid, signal);
        EXPECT_EQ(Finish(pid), 128 + signal) << Err();
        EXPECT_EQ(Slurp(Path(output)), "the old file");
        EXPECT_TRUE(Hidden(dir).empty());
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the intermediate files are gone too";
    }
}

TEST_F(ToolSafety, AnInterruptedBatchReportsWhatFinishedAndLeavesTheRestAsItWas)
{
    WriteTone(Path("short.wav"), 2205);
    WriteTone(Path("long1.wav"), 22050 * 60 * 20);
    WriteTone(Path("long2.wav"), 22050 * 60 * 20);
    fs::create_directory(Path("out"));
    Spit(Path("out/long2.flac"), "kept");
    const pid_t pid =
        Start({"short.wav", "long1.wav", "long2.wav", "--out-dir", "out", "--format", "flac", "-j", "1", "--force"});
    // The short file first, then the first long one is being written.
    ASSERT_TRUE(WaitForHiddenFile(pid, Path("out"), [this] { return fs::exists(Path("out/short.flac")); }));
    // As a terminal's Ctrl+C: every process of the group gets the signal.
    ::kill(-pid, SIGINT);
    EXPECT_EQ(Finish(pid), 128 + SIGINT);
    EXPECT_EQ(Out(), "short.wav -> out/short.flac\n");
    EXPECT_NE(Err().find("glimmerbox-fx: long1.wav: interrupted; out/long1.flac is left as it was"), std::string::npos)
        << Err();
    EXPECT_NE(Err().find("interrupted by signal 2: 1 of 3 files written"), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(Path("out/long1.flac")));
    EXPECT_EQ(Slurp(Path("out/long2.flac")), "kept");
    EXPECT_TRUE(Hidden(dir).empty());
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(ToolSafety, ABatchNeverWritesOverItsInputNorThroughALinkOutOfItsFolder)
{
    WriteTone(Path("self.wav"), 1000);
    const std::string before = Slurp(Path("self.wav"));
    fs::create_directory(Path("hl"));
    fs::create_hard_link(Path("self.wav"), Path("hl/self.wav"));
    fs::create_directory(Path("fo"));
    Spit(Path("victim.txt"), "precious");
    fs::create_symlink("../victim.txt", Path("fo/x.wav"));
    WriteTone(Path("x.wav"), 1000);

    const struct {
        const char *Name;
        std::vector<std::string> Args;
        int Status;
        const char *Said;
    } cases[] = {
        {"the same name", {"--echo", "self.wav", "--out-dir", ".", "--force"}, 1, "its own output"},
        {"the same name, put differently",
         {"--echo", "./self.wav", "--out-dir", "fo/..", "--force"},
         1,
         "its own output"},
        {"a hard link to the input", {"--echo", "self.wav", "--out-dir", "hl", "--force"}, 1, "its own output"},
        {"a link in the folder", {"x.wav", "--out-dir", "fo", "--force"}, 0, "x.wav -> fo/x.wav"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Run(c.Args), c.Status);
        EXPECT_NE((Out() + Err()).find(c.Said), std::string::npos) << Out() << Err();
        EXPECT_EQ(Slurp(Path("self.wav")), before);
        EXPECT_EQ(Slurp(Path("victim.txt")), "precious");
    }
    EXPECT_FALSE(fs::is_symlink(Path("fo/x.wav")));
    EXPECT_EQ(Slurp(Path("fo/x.wav")).substr(0, 4), "RIFF");
}

TEST_F(ToolSafety, AnEmptyVoiceMakesNoFileOfAnyKind)
{
    WriteTone(Path("empty.wav"), 0);
    std::vector<std::string> formats{"wav", "flac", "ogg", "ra"};
#ifdef GLIMMER_FX_MP3
    formats.push_back("mp3");
#endif
    for (const std::string &format : formats) {
        SCOPED_TRACE(format);
        EXPECT_EQ(Run({"empty.wav", "out." + format}), 1);
        EXPECT_NE(Err().find("empty.wav holds no sound"), std::string::npos) << Err();
        EXPECT_FALSE(fs::exists(Path("out." + format)));
    }
    EXPECT_EQ(Run({"--with-settings", "empty.wav", "out.wav"}), 1);
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(ToolSafety, NamesCannotForgeLinesAndFailuresSayWhy)
{
    const std::string evil = "evil\nglimmerbox-fx: fake.wav -> ok.wav";
    WriteTone(Path(evil + ".wav"), 100);
    EXPECT_EQ(Run({evil + ".wav", "\x1b[2Jmissing.wav", "--out-dir", "o"}), 1);
    EXPECT_EQ(Out(),
              "evil\\nglimmerbox-fx: fake.wav -> ok.wav.wav -> o/evil\\nglimmerbox-fx: fake.wav -> ok.wav.wav\n");
    EXPECT_EQ(Err(), "glimmerbox-fx: \\x1b[2Jmissing.wav: cannot open \\x1b[2Jmissing.wav: no such file\n");

    Spit(Path("plain"), "x");
    for (const char *format : {"wav", "flac", "ogg"}) {
        SCOPED_TRACE(format);
        const std::string output = std::string("plain/out.") + format;
        EXPECT_EQ(Run({evil + ".wav", output}), 1);
        EXPECT_EQ(Err(), "glimmerbox-fx: cannot write " + output + ": " + std::strerror(ENOTDIR) + "\n");
    }
}

} // namespace
