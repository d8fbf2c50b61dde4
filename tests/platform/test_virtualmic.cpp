// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual microphone "Glimmerbox Voice" on the private servers: what
// Offer makes and Withdraw takes away, the defaults it leaves alone, the
// left-overs of a killed instance beside those of one still running, and a
// server that restarts (whether a server would ever choose it as a default:
// virtualmic-defaults.sh). Other instances are glimmer_virtualmic_owner
// processes.
#include "platform/virtualmic.h"

#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

extern char **environ;

using namespace std::chrono_literals;
using platform::TVirtualMicrophone;
using soundtest::PactlOutput;
using soundtest::WaitUntilListed;

namespace {

using soundtest::DefaultSink;
using soundtest::DefaultSource;

// The entry of `pactl list sinks|sources` for the device name, "" when none.
std::string Entry(const std::string &list, const std::string &name)
{
    const std::string text = PactlOutput("list " + list);
    size_t at = text.find("\tName: " + name + "\n");
    if (at == std::string::npos) {
        return "";
    }
    size_t end = text.find(list == "sinks" ? "\nSink #" : "\nSource #", at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string OwnerLine(pid_t pid)
{
    return std::string(platform::VirtualMicOwnerProperty) + " = \"" + std::to_string(pid) + "\"";
}

// Another instance: a glimmer_virtualmic_owner process with its devices.
class Owner {
public:
    Owner()
    {
        const std::string path = std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/tests/glimmer_virtualmic_owner";
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        // Its line: "SINK SOURCE", once both are on the server.
        std::string line;
        pollfd wait{out[0], POLLIN, 0};
        char c;
        while (pid_ > 0 && poll(&wait, 1, 5000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(out[0]);
        std::istringstream(line) >> Sink >> Source;
    }
    ~Owner()
    {
        Kill();
        if (input_ >= 0) {
            close(input_);
        }
    }
    pid_t Pid() const { return pid_; }
    void Kill()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    // Closes its input: it returns from main. True when it did so, with
    // status 0, within 5 s.
    bool End()
    {
        close(input_);
        input_ = -1;
        int status = 0;
        bool ended = soundtest::Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 5s);
        if (ended) {
            pid_ = 0;
        }
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string Sink;
    std::string Source;

private:
    pid_t pid_ = 0;
    int input_ = -1;
};

class VirtualMicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        TVirtualMicrophone::Withdraw();
        TVirtualMicrophone::RemoveLeftovers();
    }
    void TearDown() override { TVirtualMicrophone::Withdraw(); }
};

TEST_F(VirtualMicTest, OfferMakesGlimmerboxVoiceWithTheOwnersIdAndLeavesTheDefaults)
{
    const std::string sink = DefaultSink(), source = DefaultSource();
    ASSERT_EQ(sink, "glimmer_speaker");
    std::string error;
    ASSERT_TRUE(TVirtualMicrophone::Offer(error)) << error;
    EXPECT_TRUE(TVirtualMicrophone::Offered());
    ASSERT_EQ(TVirtualMicrophone::SourceName(), "glimmerbox_voice");
    ASSERT_EQ(TVirtualMicrophone::SinkName(), "glimmerbox_voice_sink");
    const std::string sourceEntry = Entry("sources", "glimmerbox_voice");
    EXPECT_NE(sourceEntry.find("\tDescription: Glimmerbox Voice\n"), std::string::npos) << sourceEntry;
    EXPECT_NE(sourceEntry.find(OwnerLine(getpid())), std::string::npos) << sourceEntry;
    const std::string sinkEntry = Entry("sinks", "glimmerbox_voice_sink");
    EXPECT_NE(sinkEntry.find("\tDescription: Glimmerbox Voice (output)\n"), std::string::npos) << sinkEntry;
    EXPECT_NE(sinkEntry.find(OwnerLine(getpid())), std::string::npos) << sinkEntry;

    // Offering again changes nothing: still the one sink and source.
    ASSERT_TRUE(TVirtualMicrophone::Offer(error)) << error;
    EXPECT_EQ(TVirtualMicrophone::SourceName(), "glimmerbox_voice");
    std::istringstream modules(PactlOutput("list short modules"));
    int ours = 0;
    for (std::string line; std::getline(modules, line);) {
        ours += line.find(std::string(platform::VirtualMicOwnerProperty) + "=\"" + std::to_string(getpid()) + "\"") !=
                std::string::npos;
    }
    EXPECT_EQ(ours, 2);

    // PipeWire's session manager chooses defaults a moment after a change.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(DefaultSink(), sink);
    EXPECT_EQ(DefaultSource(), source);

    TVirtualMicrophone::Withdraw();
    EXPECT_FALSE(TVirtualMicrophone::Offered());
    EXPECT_EQ(TVirtualMicrophone::SourceName(), "");
    EXPECT_TRUE(WaitUntilListed("sources", "glimmerbox_voice", false));
    EXPECT_TRUE(WaitUntilListed("sinks", "glimmerbox_voice_sink", false));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(DefaultSink(), sink);
    EXPECT_EQ(DefaultSource(), source);
}

TEST_F(VirtualMicTest, ItsOwnDevicesAreToldFromOthers)
{
    for (const char *name : {"glimmerbox_voice", "glimmerbox_voice_4242", "glimmerbox_voice_sink.monitor",
                             "glimmerbox_voice_sink_4242.monitor"}) {
        EXPECT_TRUE(TVirtualMicrophone::IsVirtualMicDevice(name)) << name;
    }
    for (const char *name : {"glimmer_line", "glimmer_speaker.monitor", "", "voice"}) {
        EXPECT_FALSE(TVirtualMicrophone::IsVirtualMicDevice(name)) << name;
    }
}

TEST_F(VirtualMicTest, LeftOversOfAKilledInstanceGoAndThoseOfARunningOneStay)
{
    Owner running;
    ASSERT_EQ(running.Source, "glimmerbox_voice");
    ASSERT_EQ(running.Sink, "glimmerbox_voice_sink");
    // A second instance while the first runs: names of its own.
    Owner killed;
    ASSERT_EQ(killed.Source, "glimmerbox_voice_" + std::to_string(killed.Pid()));
    ASSERT_EQ(killed.Sink, "glimmerbox_voice_sink_" + std::to_string(killed.Pid()));
    killed.Kill();
    // A killed process leaves them behind.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(WaitUntilListed("sources", killed.Source));

    EXPECT_EQ(TVirtualMicrophone::RemoveLeftovers(), 2);
    EXPECT_TRUE(WaitUntilListed("sources", killed.Source, false));
    EXPECT_TRUE(WaitUntilListed("sinks", killed.Sink, false));
    EXPECT_TRUE(WaitUntilListed("sources", running.Source));
    EXPECT_TRUE(WaitUntilListed("sinks", running.Sink));

    // Offer removes them too, before it chooses names: the fixed ones are
    // the running instance's, so this process takes its own.
    Owner killedAgain;
    ASSERT_FALSE(killedAgain.Source.empty());
    killedAgain.Kill();
    std::string error;
    ASSERT_TRUE(TVirtualMicrophone::Offer(error)) << error;
    EXPECT_EQ(TVirtualMicrophone::SourceName(), "glimmerbox_voice_" + std::to_string(getpid()));
    EXPECT_TRUE(WaitUntilListed("sources", killedAgain.Source, false));
    EXPECT_TRUE(WaitUntilListed("sources", running.Source));
    TVirtualMicrophone::Withdraw();

    // An instance that ends normally takes its devices with it.
    ASSERT_TRUE(running.End());
    EXPECT_TRUE(WaitUntilListed("sources", running.Source, false));
    EXPECT_TRUE(WaitUntilListed("sinks", running.Sink, false));

    // A killed instance that had the fixed names leaves them free for the
    // next one.
    Owner killedWithFixedNames;
    ASSERT_EQ(killedWithFixedNames.Source, "glimmerbox_voice");
    killedWithFixedNames.Kill();
    ASSERT_TRUE(TVirtualMicrophone::Offer(error)) << error;
    EXPECT_EQ(TVirtualMicrophone::SourceName(), "glimmerbox_voice");
    EXPECT_NE(Entry("sources", "glimmerbox_voice").find(OwnerLine(getpid())), std::string::npos);
}

TEST_F(VirtualMicTest, AfterTheServerRestartsItIsOfferedAgain)
{
    std::string error;
    ASSERT_TRUE(TVirtualMicrophone::Offer(error)) << error;
    ASSERT_TRUE(soundtest::RestartServer());
    EXPECT_TRUE(soundtest::Eventually([] { return !TVirtualMicrophone::Offered(); }, 5s));
    EXPECT_EQ(TVirtualMicrophone::SourceName(), "");
    // Once this process has found the server again.
    EXPECT_TRUE(soundtest::Eventually([&error] { return TVirtualMicrophone::Offer(error); }, 5s)) << error;
    EXPECT_TRUE(TVirtualMicrophone::Offered());
    EXPECT_NE(Entry("sources", "glimmerbox_voice").find(OwnerLine(getpid())), std::string::npos);
    TVirtualMicrophone::Withdraw();
    EXPECT_TRUE(WaitUntilListed("sources", "glimmerbox_voice", false));
    soundtest::ResetServer();
}

} // namespace
