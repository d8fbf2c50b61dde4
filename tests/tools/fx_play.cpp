// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx --play against the private sound server: the processed clip
// reaches the default output sample for sample, and the tool returns only
// once it has been played.
#include "audio/wavefile.h"
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

struct ToolRun {
    int status = -1;
    std::string err;
    milliseconds took{0};
};

// Runs the tool with the given environment change, stderr captured.
ToolRun RunTool(const std::vector<std::string> &args, const char *pulseServer = nullptr)
{
    const std::string tool = std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/glimmerbox-fx";
    const fs::path errFile = fs::temp_directory_path() / ("fx-play-" + std::to_string(::getpid()) + ".err");
    std::string command;
    if (pulseServer)
        command += "PULSE_SERVER=" + std::string(pulseServer) + " ";
    command += tool;
    for (const std::string &a : args)
        command += " '" + a + "'";
    command += " 2>'" + errFile.string() + "'";
    const auto start = steady_clock::now();
    const int status = std::system(command.c_str());
    ToolRun run;
    run.took = duration_cast<milliseconds>(steady_clock::now() - start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err.resize(fs::exists(errFile) ? fs::file_size(errFile) : 0);
    if (FILE *f = std::fopen(errFile.c_str(), "rb")) {
        run.err.resize(std::fread(run.err.data(), 1, run.err.size(), f));
        std::fclose(f);
    }
    fs::remove(errFile);
    return run;
}

class FxPlay : public testing::Test {
protected:
    void SetUp() override
    {
        // Other sound tests leave the volumes where they set them.
        soundtest::ResetServer();
        dir = fs::temp_directory_path() / ("fx-play-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        // A second of a rising ramp that never repeats a value pattern:
        // every sample can be found again by position in the recording.
        clip.resize(22050);
        for (size_t i = 0; i < clip.size(); ++i)
            clip[i] = static_cast<int16_t>(1000 + (i * 7) % 20000);
        ASSERT_TRUE(WriteWaveFile((dir / "in.wav").string(), 22050, 16, 1, clip.data(),
                                  static_cast<uint32_t>(clip.size() * 2)));
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::vector<int16_t> clip;
};

TEST_F(FxPlay, PlaysTheProcessedClipOnTheDefaultOutputAndWaitsForIt)
{
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));

    const ToolRun run = RunTool({"--play", (dir / "in.wav").string(), (dir / "out.wav").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.took, milliseconds(1000)) << "returned before the clip had been played";
    std::this_thread::sleep_for(milliseconds(300));
    const std::vector<int16_t> heard = capture.Stop();

    const long first = soundtest::FirstAbove(heard, 500);
    ASSERT_GE(first, 0) << "nothing reached the output";
    ASSERT_GE(heard.size(), static_cast<size_t>(first) + clip.size());
    for (size_t i = 0; i < clip.size(); ++i)
        ASSERT_EQ(heard[first + i], clip[i]) << "at sample " << i;
}

TEST_F(FxPlay, SaysSoAndFailsWithoutASoundServer)
{
    const ToolRun run =
        RunTool({"--play", (dir / "in.wav").string(), (dir / "out.wav").string()}, "unix:/nonexistent/glimmer/native");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot play"), std::string::npos) << run.err;
    // The file was written before playing was tried.
    EXPECT_TRUE(fs::exists(dir / "out.wav"));
    EXPECT_LT(run.took, milliseconds(15000));
}

} // namespace
