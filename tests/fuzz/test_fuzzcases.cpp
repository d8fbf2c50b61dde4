// SPDX-License-Identifier: GPL-3.0-or-later
// Every seed and every input that once crashed the fuzzer, run through the
// fuzz body in the ordinary test run (and under the sanitizers): a crasher
// that comes back fails here, in every build.
#include "tests/fuzz/wavefuzz.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Cases(const char *folder)
{
    std::vector<fs::path> files;
    const fs::path root = fs::path(std::getenv("GLIMMER_SOURCE_DIR")) / "tests" / "fuzz" / folder;
    for (const auto &entry : fs::directory_iterator(root))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    return files;
}

void RunAll(const std::vector<fs::path> &files)
{
    for (const fs::path &file : files) {
        // Said before the run: an abort shows no trace.
        std::fprintf(stderr, "%s\n", file.filename().c_str());
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A broken promise aborts the test program, naming the file above.
        FuzzWaveInput(bytes.data(), bytes.size());
    }
}

TEST(FuzzCases, TheSeedCorpusRunsClean)
{
    const auto files = Cases("corpus");
    EXPECT_GE(files.size(), 20u) << "the seeds cover the reader's layouts and hostile sizes";
    RunAll(files);
}

TEST(FuzzCases, EveryCrasherKeptRunsClean)
{
    RunAll(Cases("crashers"));
}

} // namespace
