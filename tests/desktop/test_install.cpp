// SPDX-License-Identifier: GPL-3.0-or-later
// cmake --install into a fresh folder: every file in its place, the menu
// entry and the software-centre description accepted by the desktop's own
// validators, the programs finding their libraries through their run path,
// and the installed glimmerbox-fx working from there; both programs answer
// --help and --version without a display.
#include "tests/desktop/installtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>

namespace {

using namespace installtree;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/glimmer-install-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        prefix = root / "usr";
        const TRun install = RunCommand(Quote(GLIMMER_CMAKE) + " --install " + Quote(Environment("GLIMMER_BUILD_DIR")) +
                                        " --prefix " + Quote(prefix.string()));
        ASSERT_EQ(install.Status, 0) << install.Output;
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static fs::path Share(const char *path) { return prefix / "share" / path; }

    static inline fs::path root;
    static inline fs::path prefix;
};

TEST_F(Installed, EveryFileIsInItsPlaceAndNothingElse)
{
    ExpectInstalledTree(prefix);
}

TEST_F(Installed, ProgramsFindTheirLibrariesBesideThemThroughARelativeRunPath)
{
    for (const char *program : {"glimmerbox", "glimmerbox-fx"}) {
        SCOPED_TRACE(program);
        const TRun dynamic = RunCommand("readelf -d " + Quote((prefix / ProgramFolder() / program).string()));
        ASSERT_EQ(dynamic.Status, 0) << dynamic.Output;
        EXPECT_NE(dynamic.Output.find("(RUNPATH)            Library runpath: [$ORIGIN]\n"), std::string::npos)
            << dynamic.Output;
        EXPECT_EQ(dynamic.Output.find(Environment("GLIMMER_BUILD_DIR")), std::string::npos)
            << "no trace of the build folder";
    }
    // The loader finds each of our libraries in the program's folder ...
    const std::string folder = fs::canonical(prefix / ProgramFolder()).string();
    const TRun libraries = RunCommand("env -u LD_LIBRARY_PATH ldd " + Quote(folder + "/glimmerbox"));
    ASSERT_EQ(libraries.Status, 0) << libraries.Output;
    EXPECT_EQ(libraries.Output.find("not found"), std::string::npos) << libraries.Output;
    // ... also when the program is started through its link in bin, where
    // $ORIGIN is the folder of the real file, not of the link.
    const TRun started = RunCommand("cd / && env -u LD_LIBRARY_PATH LD_DEBUG=libs QT_QPA_PLATFORM=offscreen " +
                                    Quote((prefix / "bin/glimmerbox").string()) + " --help");
    ASSERT_EQ(started.Status, 0) << started.Output;
    EXPECT_NE(started.Output.find("Usage: glimmerbox [FILE]"), std::string::npos) << started.Output;
    for (const char *library : {"libglimmer_pulse.so", "libsqwaveplayer.so", "libtmmixlib.so", "libtmwavmp3.so"}) {
        SCOPED_TRACE(library);
        EXPECT_NE(libraries.Output.find(std::string(library) + " => " + folder + "/" + library), std::string::npos)
            << libraries.Output;
        EXPECT_NE(started.Output.find("calling init: " + folder + "/" + library), std::string::npos) << started.Output;
    }
}

TEST_F(Installed, BothProgramsAnswerVersionAndHelpWithNoDisplayInReach)
{
    // Started through their links in bin with no display and no platform
    // chosen: the window's program would stop at once if it started Qt.
    const std::string version = GLIMMER_VERSION;
    const struct {
        const char *Program;
        const char *Option;
        std::string FirstLine;
        bool OnlyThatLine;
    } cases[] = {
        {"glimmerbox", "--version", "glimmerbox " + version, true},
        {"glimmerbox-fx", "--version", "glimmerbox-fx " + version, true},
        {"glimmerbox", "--help", "Usage: glimmerbox [FILE]", false},
        {"glimmerbox", "-h", "Usage: glimmerbox [FILE]", false},
        {"glimmerbox-fx", "--help", "Usage: glimmerbox-fx [OPTIONS] INPUT OUTPUT", false},
    };
    const fs::path errors = root / "stderr.txt";
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.Program) + " " + c.Option);
        const TRun run = RunCommand("{ cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                    Quote((prefix / "bin" / c.Program).string()) + " " + c.Option + " 2>" +
                                    Quote(errors.string()) + "; }");
        EXPECT_EQ(run.Status, 0) << run.Output;
        EXPECT_EQ(ReadFile(errors), "");
        EXPECT_EQ(run.Output.substr(0, run.Output.find('\n')), c.FirstLine) << run.Output;
        if (c.OnlyThatLine) {
            EXPECT_EQ(run.Output, c.FirstLine + "\n");
            continue;
        }
        // The help names the kinds of phone and browser recording opened,
        // in lines that fit a terminal of 80 columns.
        const std::string lower = Lower(run.Output);
        for (const char *kind : {"m4a", "opus", "webm", "amr", "realaudio"})
            EXPECT_NE(lower.find(kind), std::string::npos) << kind;
        std::istringstream lines(run.Output);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LT(line.size(), 80u) << line;
    }
}

TEST_F(Installed, TheInstalledEffectToolProcessesAClipWithNoBuildFolderInReach)
{
    // The preset voice installed beside the program is the clip.
    ExpectSameOutputAsTheBuild(prefix, root, "--robot --pitch 4 --fade-out", prefix / ProgramFolder() / "SF1.WAV");
}

TEST_F(Installed, TheDesktopEntryIsValidAndOpensWaveFiles)
{
    const fs::path entry = Share("applications/org.example.Glimmerbox.desktop");
    const TRun validate = RunCommand("desktop-file-validate " + Quote(entry.string()));
    EXPECT_EQ(validate.Status, 0) << validate.Output;
    EXPECT_EQ(validate.Output, "") << "no warnings either";

    const std::string text = ReadFile(entry);
    const struct {
        const char *Line;
    } lines[] = {
        {"Name=Glimmerbox"},
        {"Exec=glimmerbox %f"},
        {"Icon=org.example.Glimmerbox"},
        {"Type=Application"},
        {"Terminal=false"},
        {"Categories=AudioVideo;Audio;Recorder;"},
        {"MimeType=audio/x-wav;audio/wav;audio/vnd.wave;audio/x-aiff;audio/flac;"
         "audio/ogg;audio/x-vorbis+ogg;audio/x-opus+ogg;audio/mpeg;"
         "audio/mp4;audio/aac;audio/webm;audio/AMR;audio/x-flac+ogg;audio/x-matroska;"
         "audio/vnd.rn-realaudio;video/mp4;video/webm;video/quicktime;video/3gpp;"},
    };
    for (const auto &line : lines)
        EXPECT_NE(text.find(std::string("\n") + line.Line + "\n"), std::string::npos) << line.Line;
    EXPECT_TRUE(std::regex_search(text, std::regex("\nComment=[^\n]{10,}\n"))) << "a one-line comment";
}

TEST_F(Installed, TheMetainfoIsValidAndNamesThisVersionAndTheDesktopEntry)
{
    const fs::path metainfo = Share("metainfo/org.example.Glimmerbox.metainfo.xml");
    const TRun validate = RunCommand("appstreamcli validate --no-net " + Quote(metainfo.string()));
    EXPECT_EQ(validate.Status, 0) << validate.Output;
    // Pedantic notes are allowed (the id's capital letter); nothing more.
    EXPECT_FALSE(std::regex_search(validate.Output, std::regex("(^|\n)[EWI]: "))) << validate.Output;
    const std::string text = ReadFile(metainfo);
    EXPECT_NE(text.find("<project_license>GPL-3.0-or-later</project_license>"), std::string::npos);
    EXPECT_EQ(text.find("<url type=\"homepage\">"), std::string::npos) << "no placeholder address";
    EXPECT_NE(text.find("<content_rating type=\"oars-1.1\"/>"), std::string::npos);
    EXPECT_NE(text.find("<id>org.example.Glimmerbox</id>"), std::string::npos);
    EXPECT_NE(text.find("<launchable type=\"desktop-id\">org.example.Glimmerbox.desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(text.find(std::string("<release version=\"") + GLIMMER_VERSION + "\""), std::string::npos);
    EXPECT_NE(text.find("<binary>glimmerbox</binary>"), std::string::npos);
    EXPECT_NE(text.find("<binary>glimmerbox-fx</binary>"), std::string::npos);
}

TEST_F(Installed, IconsHaveTheSizesOfTheirFolders)
{
    for (uint32_t size : {48u, 128u, 256u}) {
        SCOPED_TRACE(size);
        const std::string s = std::to_string(size);
        const std::string png =
            ReadFile(Share(("icons/hicolor/" + s + "x" + s + "/apps/org.example.Glimmerbox.png").c_str()));
        ASSERT_GT(png.size(), 33u);
        // The signature, then the IHDR chunk with width and height big-endian.
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        auto bigEndian = [&png](size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24 |
                   static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16 |
                   static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8 |
                   static_cast<uint32_t>(static_cast<uint8_t>(png[at + 3]));
        };
        EXPECT_EQ(bigEndian(16), size);
        EXPECT_EQ(bigEndian(20), size);
        EXPECT_EQ(static_cast<uint8_t>(png[25]), 6) << "colour with alpha";
    }
    const std::string svg = ReadFile(Share("icons/hicolor/scalable/apps/org.example.Glimmerbox.svg"));
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(svg.find("viewBox=\"0 0 48 48\""), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST_F(Installed, ManualPagesFormatCleanlyAndDescribeEveryOption)
{
    for (const char *page : {"glimmerbox.1.gz", "glimmerbox-fx.1.gz"}) {
        SCOPED_TRACE(page);
        const TRun format = RunCommand("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " +
                                       Quote(Share("man/man1").string() + "/" + page) + " | col -b");
        EXPECT_EQ(format.Status, 0) << format.Output;
        EXPECT_EQ(format.Output.find("warning"), std::string::npos) << format.Output;
        // As the help does, each page names the phone and browser kinds.
        const std::string text = Lower(ReadGzipFile(Share("man/man1") / page));
        for (const char *kind : {"m4a", "opus", "webm", "amr", "realaudio"})
            EXPECT_NE(text.find(kind), std::string::npos) << kind;
        EXPECT_NE(text.find("\\-\\-version"), std::string::npos);
    }
    // Every option the tool's --help names is in its manual page.
    const TRun help = RunCommand(Quote((prefix / "bin/glimmerbox-fx").string()) + " --help");
    ASSERT_EQ(help.Status, 0) << help.Output;
    const TRun page = RunCommand("LC_ALL=C.UTF-8 MANWIDTH=200 man -l " +
                                 Quote(Share("man/man1/glimmerbox-fx.1.gz").string()) + " | col -b");
    ASSERT_EQ(page.Status, 0);
    const std::regex option("--[a-z][a-z-]*");
    int options = 0;
    for (auto it = std::sregex_iterator(help.Output.begin(), help.Output.end(), option); it != std::sregex_iterator();
         ++it) {
        ++options;
        EXPECT_NE(page.Output.find(it->str()), std::string::npos) << it->str() << " is not in the manual page";
    }
    EXPECT_GE(options, 17);
    // And every key of the window is in the program's page.
    const TRun window = RunCommand("LC_ALL=C.UTF-8 MANWIDTH=200 man -l " +
                                   Quote(Share("man/man1/glimmerbox.1.gz").string()) + " | col -b");
    for (const char *key : {"Ctrl+N", "Ctrl+O", "Ctrl+S", "Ctrl+Shift+S", "Ctrl+E", "Ctrl+R", "Ctrl+Q", "F1", "Space"})
        EXPECT_NE(window.Output.find(key), std::string::npos) << key;
}

} // namespace
