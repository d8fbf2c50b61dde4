// SPDX-License-Identifier: GPL-3.0-or-later
// A caller that returns from main with devices selected, a callback window
// set, and a recording or a playback running, run many times against the
// private server: it must end with its own status every time, never abort
// (a heap torn by an event thread still at work) or hang at exit.
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

TEST(ExitTest, ACallerThatReturnsWithoutCleaningUpEndsCleanlyEveryTime)
{
    const std::string caller = std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/tests/glimmer_exitcaller";
    const std::string file =
        (std::filesystem::temp_directory_path() / ("glimmer-exit-" + std::to_string(getpid()) + ".wav")).string();
    for (const char *mode : {"selected", "recording", "playing"}) {
        for (int run = 0; run < 8; run++) {
            SCOPED_TRACE(std::string(mode) + " run " + std::to_string(run));
            std::filesystem::remove(file);
            // timeout answers 124 for a hang; an abort shows as 134.
            std::string command = "timeout 20 '" + caller + "' " + mode + " '" + file + "'";
            int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status));
            ASSERT_EQ(WEXITSTATUS(status), 0);
            if (std::strcmp(mode, "recording") == 0) {
                // What was recorded until the end is kept, as a whole file.
                std::vector<unsigned char> bytes = soundtest::ReadFile(file);
                ASSERT_GE(bytes.size(), 44u);
                uint32_t data = soundtest::LE32(bytes.data() + 40);
                EXPECT_EQ(bytes.size(), 44 + data + (data & 1));
                EXPECT_GT(data, 0u);
            }
        }
    }
    std::filesystem::remove(file);
    // The caller moves the volumes: leave the server as the next tests expect it.
    soundtest::ResetServer();
}

} // namespace
