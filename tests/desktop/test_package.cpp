// SPDX-License-Identifier: GPL-3.0-or-later
// cpack -G DEB: the package is built from this build, names its version and
// architecture, depends on what dpkg-shlibdeps found the programs and
// libraries to need and only recommends FFmpeg, which the media plugin alone
// uses, holds the installed tree under /usr, and its unpacked glimmerbox-fx
// runs from wherever it was unpacked. Without dependencies there is no
// package. It is one a distribution would take: lintian, Debian's own
// checker, finds no error and no warning in it; it carries a machine-readable
// copyright file naming the licence, a changelog entry for this version and
// compressed manual pages, runs no maintainer script, and names no home page.
#include "tests/desktop/installtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace installtree;

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/glimmer-package-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        const TRun architecture = RunCommand("dpkg --print-architecture");
        ASSERT_EQ(architecture.Status, 0);
        deb = root / ("glimmerbox_" + std::string(GLIMMER_VERSION) + "_" +
                      architecture.Output.substr(0, architecture.Output.find('\n')) + ".deb");
        const TRun cpack = RunCommand("cd " + Quote(Environment("GLIMMER_BUILD_DIR")) + " && " + Quote(GLIMMER_CPACK) +
                                      " -G DEB -B " + Quote(root.string()));
        ASSERT_EQ(cpack.Status, 0) << cpack.Output;
        unpacked = root / "unpacked";
        const TRun extract = RunCommand("dpkg-deb -x " + Quote(deb.string()) + " " + Quote(unpacked.string()));
        ASSERT_EQ(extract.Status, 0) << extract.Output;
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static std::string Field(const char *name)
    {
        const TRun field = RunCommand("dpkg-deb -f " + Quote(deb.string()) + " " + name);
        return field.Status == 0 ? field.Output.substr(0, field.Output.find_last_not_of('\n') + 1) : "";
    }

    // The package names in a relationship field such as Depends, without
    // their versions: "libc6 (>= 2.34), a | b" gives libc6, a, b.
    static std::vector<std::string> PackagesIn(const std::string &field)
    {
        std::vector<std::string> names;
        size_t at = 0;
        while (at < field.size()) {
            at = field.find_first_not_of(" ,|", at);
            if (at == std::string::npos)
                break;
            const size_t end = field.find_first_of(" ,|(", at);
            names.push_back(field.substr(at, end - at));
            at = field.find_first_of(",|", at);
        }
        return names;
    }

    static fs::path Doc(const char *name) { return unpacked / "usr/share/doc/glimmerbox" / name; }

    static inline fs::path root;
    static inline fs::path deb;
    static inline fs::path unpacked;
};

// A file of Debian control syntax (the copyright file's format) as its
// paragraphs, each a map of field to value; a continuation line joins its
// field's value after a newline, with its leading space taken off.
using TParagraph = std::map<std::string, std::string>;
std::vector<TParagraph> Paragraphs(const std::string &text)
{
    std::vector<TParagraph> paragraphs;
    std::istringstream lines(text);
    std::string field;
    bool inParagraph = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.find_first_not_of(" \t") == std::string::npos) {
            inParagraph = false;
            continue;
        }
        if (!inParagraph) {
            paragraphs.emplace_back();
            inParagraph = true;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            paragraphs.back()[field] += "\n" + line.substr(1);
            continue;
        }
        const size_t colon = line.find(':');
        field = line.substr(0, colon);
        const size_t value = colon == std::string::npos ? line.size() : line.find_first_not_of(' ', colon + 1);
        paragraphs.back()[field] = value == std::string::npos ? "" : line.substr(value);
    }
    return paragraphs;
}

bool StartsWith(const std::string &text, const std::string &start)
{
    return text.rfind(start, 0) == 0;
}

TEST_F(Package, IsNamedForItsVersionAndArchitecture)
{
    ASSERT_TRUE(fs::is_regular_file(deb)) << deb;
    EXPECT_EQ(Field("Package"), "glimmerbox");
    EXPECT_EQ(Field("Version"), GLIMMER_VERSION);
    EXPECT_EQ(Field("Section"), "sound");
    EXPECT_FALSE(Field("Maintainer").empty());
    EXPECT_FALSE(Field("Description").empty());
}

TEST_F(Package, DependsOnWhatTheProgramsAreLinkedWith)
{
    const std::string depends = Field("Depends");
    // Each found by dpkg-shlibdeps, with the least version the symbols need.
    for (const char *package : {"libc6", "libstdc++6", "libqt6widgets6", "libqt6gui6", "libqt6core6", "libpulse0",
                                "libmp3lame0", "libshine3"}) {
        SCOPED_TRACE(package);
        const std::string entry = std::string(package) + " (>= ";
        EXPECT_TRUE(depends.rfind(entry, 0) == 0 || depends.find(", " + entry) != std::string::npos) << depends;
    }
    // Our own libraries come with the package and are no dependency.
    for (const char *own : {"sqwaveplayer", "tmmixlib", "tmwavmp3", "lame_enc"})
        EXPECT_EQ(depends.find(own), std::string::npos) << depends;
    // Nor is FFmpeg: only the media plugin links it.
    for (const std::string &package : PackagesIn(depends)) {
        EXPECT_FALSE(StartsWith(package, "libav")) << depends;
        EXPECT_FALSE(StartsWith(package, "libswresample")) << depends;
    }
}

TEST_F(Package, RecommendsFfmpegForTheMediaPluginItHolds)
{
    const TRun contents = RunCommand("dpkg-deb -c " + Quote(deb.string()));
    ASSERT_EQ(contents.Status, 0) << contents.Output;
    EXPECT_NE(contents.Output.find(" ./usr/" + ProgramFolder() + "/libglimmer_media.so\n"), std::string::npos)
        << contents.Output;

    // Each package is named after its library's major version (libavformat59)
    // and comes with the least version the plugin's symbols need.
    const std::string recommends = Field("Recommends");
    for (const char *library : {"libavformat", "libavcodec", "libavutil", "libswresample"}) {
        const std::regex entry(std::string("(^|, )") + library + "[0-9]+ \\(>= [^)]+\\)(,|$)");
        EXPECT_TRUE(std::regex_search(recommends, entry)) << library << " in: " << recommends;
    }
    // What the programs need anyway is not repeated there.
    const std::vector<std::string> required = PackagesIn(Field("Depends"));
    for (const std::string &package : PackagesIn(recommends))
        EXPECT_EQ(std::count(required.begin(), required.end(), package), 0) << package;
}

TEST_F(Package, IsNotMadeWhenItsDependenciesCannotBeWorkedOut)
{
    // A dpkg-shlibdeps that fails as it does on a library it cannot find.
    const fs::path tools = root / "failing-tools";
    fs::create_directories(tools);
    const fs::path shlibdeps = tools / "dpkg-shlibdeps";
    std::ofstream(shlibdeps) << "#!/bin/sh\n"
                                "echo 'dpkg-shlibdeps: error: cannot find library libgone.so.1' >&2\n"
                                "exit 2\n";
    fs::permissions(shlibdeps, fs::perms::owner_all);
    const fs::path output = root / "failed";
    const TRun cpack =
        RunCommand("cd " + Quote(Environment("GLIMMER_BUILD_DIR")) + " && PATH=" + Quote(tools.string()) +
                   ":\"$PATH\" " + Quote(GLIMMER_CPACK) + " -G DEB -B " + Quote(output.string()));
    EXPECT_NE(cpack.Status, 0) << cpack.Output;
    EXPECT_NE(cpack.Output.find("Cannot work out the package's dependencies: dpkg-shlibdeps failed"), std::string::npos)
        << cpack.Output;
    EXPECT_NE(cpack.Output.find("cannot find library libgone.so.1"), std::string::npos) << cpack.Output;
    std::error_code ignored;
    for (const auto &entry : fs::recursive_directory_iterator(output, ignored))
        EXPECT_NE(entry.path().extension(), ".deb") << entry.path();
}

TEST_F(Package, HoldsTheInstalledTreeUnderUsr)
{
    EXPECT_EQ(FilesBelow(unpacked).size(), InstalledFiles().size()) << "nothing outside /usr";
    ExpectInstalledTree(unpacked / "usr");
    // The programs' folder is the private one of the architecture's library
    // folder, so that no library of ours lies where the loader looks.
    EXPECT_TRUE(fs::is_directory(unpacked / "usr" / ProgramFolder())) << ProgramFolder();
    for (const char *folder : {"usr/lib", "lib"}) {
        std::error_code ignored;
        for (const auto &entry : fs::directory_iterator(unpacked / folder, ignored))
            EXPECT_EQ(entry.path().string().find(".so"), std::string::npos) << entry.path();
    }
}

TEST_F(Package, ItsUnpackedEffectToolRunsAndFindsItsLibraries)
{
    const fs::path folder = unpacked / "usr" / ProgramFolder();
    ExpectSameOutputAsTheBuild(unpacked / "usr", root, "--echo --sweep-up", folder / "SF2.WAV");
    const TRun libraries = RunCommand("env -u LD_LIBRARY_PATH ldd " + Quote((folder / "glimmerbox").string()));
    EXPECT_EQ(libraries.Status, 0) << libraries.Output;
    EXPECT_EQ(libraries.Output.find("not found"), std::string::npos) << libraries.Output;
}

TEST_F(Package, LintianFindsNoErrorOrWarning)
{
    // The default profile, with the information and pedantic notes shown so
    // that a failure prints all lintian had to say; only E: and W: fail.
    const TRun lintian =
        RunCommand("lintian --fail-on error,warning --display-info --pedantic " + Quote(deb.string()) + " 2>&1");
    std::istringstream lines(lintian.Output);
    int errorsAndWarnings = 0;
    for (std::string line; std::getline(lines, line);)
        errorsAndWarnings += StartsWith(line, "E: ") || StartsWith(line, "W: ");
    EXPECT_EQ(errorsAndWarnings, 0) << lintian.Output;
    // 0 also says that lintian ran to the end: it answers 2 when it cannot.
    EXPECT_EQ(lintian.Status, 0) << lintian.Output;
}

TEST_F(Package, CarriesAMachineReadableCopyrightFileNamingTheLicence)
{
    const fs::path copyright = Doc("copyright");
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(copyright))) << "a file, not compressed, not a link";
    const std::vector<TParagraph> paragraphs = Paragraphs(ReadFile(copyright));
    ASSERT_GE(paragraphs.size(), 3u);

    // The header, then a Files paragraph for everything, and one for the
    // preset voices the project made itself; every licence named has its
    // own paragraph with its text.
    const TParagraph &header = paragraphs[0];
    EXPECT_EQ(header.count("Format") ? header.at("Format") : "",
              "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/");
    EXPECT_EQ(header.count("Upstream-Name") ? header.at("Upstream-Name") : "", "Glimmerbox");
    std::vector<std::string> files;
    std::vector<std::string> licences;
    std::map<std::string, std::string> licenceTexts;
    for (size_t i = 1; i < paragraphs.size(); ++i) {
        const TParagraph &paragraph = paragraphs[i];
        ASSERT_TRUE(paragraph.count("License")) << "paragraph " << i;
        const std::string &licence = paragraph.at("License");
        const std::string shortName = licence.substr(0, licence.find('\n'));
        if (!paragraph.count("Files")) {
            licenceTexts[shortName] = licence.substr(shortName.size());
            continue;
        }
        files.push_back(paragraph.at("Files"));
        licences.push_back(licence);
        EXPECT_EQ(paragraph.count("Copyright") ? paragraph.at("Copyright") : "", "2026 The Glimmerbox developers");
    }
    const std::vector<std::string> expectedFiles = {"*", "app/presets/SF1.WAV app/presets/SF2.WAV app/presets/SF3.WAV"};
    EXPECT_EQ(files, expectedFiles);
    EXPECT_EQ(licences, std::vector<std::string>(expectedFiles.size(), "GPL-3.0-or-later"));
    ASSERT_EQ(licenceTexts.count("GPL-3.0-or-later"), 1u);
    const std::string &text = licenceTexts["GPL-3.0-or-later"];
    EXPECT_NE(text.find("either version 3 of the License, or (at your option)\nany later version."), std::string::npos)
        << text;
    EXPECT_NE(text.find("\"/usr/share/common-licenses/GPL-3\""), std::string::npos) << text;
}

TEST_F(Package, TheRepositoryLicenceHoldsTheWholeGplAfterItsHeader)
{
    const std::string licence = ReadFile(fs::path(Environment("GLIMMER_SOURCE_DIR")) / "LICENSE");
    const std::string gpl = ReadFile("/usr/share/common-licenses/GPL-3");
    ASSERT_GT(gpl.size(), 30000u);
    ASSERT_GT(licence.size(), gpl.size());
    EXPECT_EQ(licence.substr(licence.size() - gpl.size()), gpl);
    const std::string header = licence.substr(0, licence.size() - gpl.size());
    EXPECT_NE(header.find("Copyright 2026 The Glimmerbox developers"), std::string::npos) << header;
    EXPECT_NE(header.find("either version 3 of the License, or (at your option)\nany later version."),
              std::string::npos)
        << header;
}

TEST_F(Package, ItsChangelogIsCompressedAndHasAnEntryForThisVersion)
{
    const fs::path changelog = Doc("changelog.gz");
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(changelog)));
    ExpectGzip9n(changelog);
    // Read by dpkg's own parser: this version, from the package's contact.
    const fs::path text = root / "changelog";
    std::ofstream(text) << ReadGzipFile(changelog);
    auto entry = [&text](const char *field) {
        const TRun parsed = RunCommand("dpkg-parsechangelog -l " + Quote(text.string()) + " -S " + field);
        EXPECT_EQ(parsed.Status, 0) << parsed.Output;
        return parsed.Output.substr(0, parsed.Output.find_last_not_of('\n') + 1);
    };
    EXPECT_EQ(entry("Source"), "glimmerbox");
    EXPECT_EQ(entry("Version"), GLIMMER_VERSION);
    EXPECT_EQ(entry("Maintainer"), Field("Maintainer"));
    EXPECT_NE(entry("Changes").find("First release"), std::string::npos);
    EXPECT_EQ(ReadGzipFile(changelog), ReadFile(fs::path(Environment("GLIMMER_SOURCE_DIR")) / "app/desktop/changelog"));
}

TEST_F(Package, ItsManualPagesAreTheSourcesCompressed)
{
    for (const char *page : {"glimmerbox.1", "glimmerbox-fx.1"}) {
        SCOPED_TRACE(page);
        const fs::path installed = unpacked / "usr/share/man/man1" / (std::string(page) + ".gz");
        ExpectGzip9n(installed);
        EXPECT_EQ(ReadGzipFile(installed),
                  ReadFile(fs::path(Environment("GLIMMER_SOURCE_DIR")) / "app/desktop" / page));
    }
}

TEST_F(Package, RunsNoMaintainerScriptAndNoLdconfig)
{
    // The package as made, and one made by a cpack told to look at every
    // file for shared libraries (as it does for dpkg-shlibdeps, shlibs or a
    // debug package): it adds a postinst and a postrm running ldconfig for
    // libraries in /usr/lib or a folder directly below it, and ours are in
    // none.
    const fs::path scanned = root / "scanned";
    const TRun cpack = RunCommand("cd " + Quote(Environment("GLIMMER_BUILD_DIR")) + " && " + Quote(GLIMMER_CPACK) +
                                  " -G DEB -D CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS=ON -B " + Quote(scanned.string()));
    ASSERT_EQ(cpack.Status, 0) << cpack.Output;
    for (const fs::path &package : {deb, scanned / deb.filename()}) {
        SCOPED_TRACE(package);
        const fs::path control = package.parent_path() / "control";
        const TRun extract = RunCommand("dpkg-deb -e " + Quote(package.string()) + " " + Quote(control.string()));
        ASSERT_EQ(extract.Status, 0) << extract.Output;
        ASSERT_TRUE(fs::is_regular_file(control / "control"));
        for (const char *script : {"preinst", "postinst", "prerm", "postrm"})
            EXPECT_FALSE(fs::exists(control / script)) << script << ":\n" << ReadFile(control / script);
        for (const auto &entry : fs::directory_iterator(control))
            EXPECT_EQ(ReadFile(entry.path()).find("ldconfig"), std::string::npos) << entry.path();
    }
}

TEST_F(Package, NamesNoHomePageAndDescribesWhatTheProgramsRead)
{
    const TRun fields = RunCommand("dpkg-deb -f " + Quote(deb.string()));
    ASSERT_EQ(fields.Status, 0) << fields.Output;
    EXPECT_FALSE(std::regex_search(fields.Output, std::regex("(^|\n)Homepage:"))) << fields.Output;
    EXPECT_EQ(fields.Output.find("example.org/"), std::string::npos) << fields.Output;
    EXPECT_EQ(Field("Priority"), "optional");
    // The long description in lines of at most 80 columns, naming the kinds
    // of file beyond WAVE that the programs read and write.
    const std::string description = Field("Description");
    std::istringstream lines(description);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
    for (const char *kind : {"FLAC", "Opus", "MP3", "M4A", "WebM", "AMR", "RealAudio", "Ogg Vorbis"})
        EXPECT_NE(description.find(kind), std::string::npos) << kind;
}

} // namespace
