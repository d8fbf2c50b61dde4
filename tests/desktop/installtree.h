// SPDX-License-Identifier: GPL-3.0-or-later
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

enum class TKind { File, Executable, Link, Gzip };

struct TInstalledFile {
    std::string Path; // below the prefix
    TKind Kind;
    std::string LinkTarget; // for links: exactly this relative target
};

// The folder of the programs, their libraries and the preset voices, below
// the prefix: Debian's place for a package's private libraries,
// lib/<triplet>/glimmerbox, with the triplet as dpkg names it for this
// machine (x86_64-linux-gnu on amd64).
inline const std::string &ProgramFolder()
{
    static const std::string folder = [] {
        const TRun triplet = RunCommand("dpkg-architecture -qDEB_HOST_MULTIARCH");
        const std::string name = triplet.Output.substr(0, triplet.Output.find('\n'));
        return triplet.Status == 0 && !name.empty() ? "lib/" + name + "/glimmerbox" : "dpkg-architecture failed";
    }();
    return folder;
}

inline const std::vector<TInstalledFile> &InstalledFiles()
{
    const std::string &folder = ProgramFolder();
    static const std::vector<TInstalledFile> files = {
        {"bin/glimmerbox", TKind::Link, "../" + folder + "/glimmerbox"},
        {"bin/glimmerbox-fx", TKind::Link, "../" + folder + "/glimmerbox-fx"},
        {folder + "/glimmerbox", TKind::Executable, ""},
        {folder + "/glimmerbox-fx", TKind::Executable, ""},
        {folder + "/libglimmer_pulse.so", TKind::File, ""},
        {folder + "/libsqwaveplayer.so", TKind::File, ""},
        {folder + "/libtmmixlib.so", TKind::File, ""},
        {folder + "/libtmwavmp3.so", TKind::File, ""},
        {folder + "/liblame_enc.so", TKind::File, ""},
        {folder + "/libglimmer_media.so", TKind::File, ""},
        {folder + "/SF1.WAV", TKind::File, ""},
        {folder + "/SF2.WAV", TKind::File, ""},
        {folder + "/SF3.WAV", TKind::File, ""},
        {"share/applications/org.example.Glimmerbox.desktop", TKind::File, ""},
        {"share/metainfo/org.example.Glimmerbox.metainfo.xml", TKind::File, ""},
        {"share/icons/hicolor/scalable/apps/org.example.Glimmerbox.svg", TKind::File, ""},
        {"share/icons/hicolor/48x48/apps/org.example.Glimmerbox.png", TKind::File, ""},
        {"share/icons/hicolor/128x128/apps/org.example.Glimmerbox.png", TKind::File, ""},
        {"share/icons/hicolor/256x256/apps/org.example.Glimmerbox.png", TKind::File, ""},
        {"share/man/man1/glimmerbox.1.gz", TKind::Gzip, ""},
        {"share/man/man1/glimmerbox-fx.1.gz", TKind::Gzip, ""},
        {"share/doc/glimmerbox/copyright", TKind::File, ""},
        {"share/doc/glimmerbox/changelog.gz", TKind::Gzip, ""},
    };
    return files;
}

inline std::string ReadFile(const fs::path &name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a gzip'd file, or "" when gzip cannot read it.
inline std::string ReadGzipFile(const fs::path &name)
{
    const TRun unpacked = RunCommand("gzip -dc " + Quote(name.string()));
    return unpacked.Status == 0 ? unpacked.Output : "";
}

// Checks that name was compressed as Debian wants manual pages and
// changelogs to be, by gzip -9n: the deflate method, the flag for maximum
// compression, no file name and no time stamp in the header (so the same
// text always gives the same bytes), and an intact stream.
inline void ExpectGzip9n(const fs::path &name)
{
    const std::string bytes = ReadFile(name);
    ASSERT_GE(bytes.size(), 18u);
    EXPECT_EQ(bytes.substr(0, 3), std::string("\x1f\x8b\x08", 3)) << "gzip, deflate";
    EXPECT_EQ(bytes[3] & 0x08, 0) << "no file name stored";
    EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0')) << "no time stamp";
    EXPECT_EQ(bytes[8], 2) << "compressed with -9";
    const TRun test = RunCommand("gzip -t " + Quote(name.string()));
    EXPECT_EQ(test.Status, 0) << test.Output;
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
        case TKind::Gzip:
            ASSERT_TRUE(fs::is_regular_file(status));
            ExpectGzip9n(path);
            EXPECT_NE(ReadGzipFile(path), "");
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
