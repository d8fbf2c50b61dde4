// What an installation holds, and small helpers for the tests that make one
// (cmake --install, or the Debian package unpacked): running a command,
// reading a file, comparing two programs' output files.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace installtree {

namespace fs = std::filesystem;

enum class TKind { File, Executable, Link };

struct TInstalledFile {
    const char *Path; // below the prefix
    TKind Kind;
    const char *LinkTarget = ""; // for links: exactly this relative target
};

inline const std::vector<TInstalledFile> &InstalledFiles()
{
    static const std::vector<TInstalledFile> files = {
        {"bin/glimmerbox", TKind::Link, "../lib/glimmerbox/glimmerbox"},
        {"bin/glimmerbox-fx", TKind::Link, "../lib/glimmerbox/glimmerbox-fx"},
        {"lib/glimmerbox/glimmerbox", TKind::Executable},
        {"lib/glimmerbox/glimmerbox-fx", TKind::Executable},
        {"lib/glimmerbox/libglimmer_pulse.so", TKind::File},
        {"lib/glimmerbox/libsqwaveplayer.so", TKind::File},
        {"lib/glimmerbox/libtmmixlib.so", TKind::File},
        {"lib/glimmerbox/libtmwavmp3.so", TKind::File},
        {"lib/glimmerbox/liblame_enc.so", TKind::File},
        {"lib/glimmerbox/libglimmer_media.so", TKind::File},
        {"lib/glimmerbox/SF1.WAV", TKind::File},
        {"lib/glimmerbox/SF2.WAV", TKind::File},
        {"lib/glimmerbox/SF3.WAV", TKind::File},
        {"share/applications/org.example.Glimmerbox.desktop", TKind::File},
        {"share/metainfo/org.example.Glimmerbox.metainfo.xml", TKind::File},
        {"share/icons/hicolor/scalable/apps/org.example.Glimmerbox.svg", TKind::File},
        {"share/icons/hicolor/48x48/apps/org.example.Glimmerbox.png", TKind::File},
        {"share/icons/hicolor/128x128/apps/org.example.Glimmerbox.png", TKind::File},
        {"share/icons/hicolor/256x256/apps/org.example.Glimmerbox.png", TKind::File},
        {"share/man/man1/glimmerbox.1", TKind::File},
        {"share/man/man1/glimmerbox-fx.1", TKind::File},
    };
    return files;
}

struct TRun {
    int Status = -1;    // the exit status; -1 when it did not exit normally
    std::string Output; // standard output and standard error together
};

// Runs command through the shell.
inline TRun RunCommand(const std::string &command)
{
    TRun run;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, got);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A name the shell takes as one word.
inline std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

inline std::string ReadFile(const fs::path &name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// Every file and link below root, as paths relative to it (folders left out).
inline std::set<std::string> FilesBelow(const fs::path &root)
{
    std::set<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_symlink() || entry.is_regular_file())
            found.insert(entry.path().lexically_relative(root).string()); // a link as itself, not resolved
    }
    return found;
}

// Checks the installed tree below prefix against InstalledFiles: nothing
// missing, nothing more, links and executables as they should be.
inline void ExpectInstalledTree(const fs::path &prefix)
{
    std::set<std::string> expected;
    for (const TInstalledFile &file : InstalledFiles())
        expected.insert(file.Path);
    EXPECT_EQ(FilesBelow(prefix), expected);
    for (const TInstalledFile &file : InstalledFiles()) {
        SCOPED_TRACE(file.Path);
        const fs::path path = prefix / file.Path;
        const fs::file_status status = fs::symlink_status(path);
        switch (file.Kind) {
        case TKind::Link:
            ASSERT_TRUE(fs::is_symlink(status));
            EXPECT_EQ(fs::read_symlink(path).string(), file.LinkTarget);
            EXPECT_TRUE(fs::is_regular_file(path)) << "the link leads to the program";
            break;
        case TKind::Executable:
            ASSERT_TRUE(fs::is_regular_file(status));
            EXPECT_NE(status.permissions() & fs::perms::owner_exec, fs::perms::none);
            break;
        case TKind::File:
            ASSERT_TRUE(fs::is_regular_file(status));
            EXPECT_GT(fs::file_size(path), 0u);
            break;
        }
    }
}

// Runs prefix/bin/glimmerbox-fx and the build's glimmerbox-fx with the same
// options on input, from a folder outside the build, without any library
// path, and expects the same output bytes (and output that is not the input).
inline void ExpectSameOutputAsTheBuild(const fs::path &prefix, const fs::path &work, const std::string &options,
                                       const fs::path &input)
{
    const fs::path build = Environment("GLIMMER_BUILD_DIR");
    const fs::path installedOut = work / "installed.wav";
    const fs::path builtOut = work / "built.wav";
    const TRun installed = RunCommand("cd " + Quote(work.string()) + " && env -u LD_LIBRARY_PATH " +
                                      Quote((prefix / "bin/glimmerbox-fx").string()) + " " + options + " " +
                                      Quote(input.string()) + " " + Quote(installedOut.string()));
    ASSERT_EQ(installed.Status, 0) << installed.Output;
    const TRun built = RunCommand(Quote((build / "glimmerbox-fx").string()) + " " + options + " " +
                                  Quote(input.string()) + " " + Quote(builtOut.string()));
    ASSERT_EQ(built.Status, 0) << built.Output;
    const std::string result = ReadFile(installedOut);
    ASSERT_GT(result.size(), 1000u);
    EXPECT_EQ(result, ReadFile(builtOut));
    EXPECT_NE(result, ReadFile(input)) << "the effects changed the clip";
}

} // namespace installtree
