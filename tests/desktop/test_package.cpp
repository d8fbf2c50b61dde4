// cpack -G DEB: the package is built from this build, names its version and
// architecture, depends on what dpkg-shlibdeps found the programs and
// libraries to need and only recommends FFmpeg, which the media plugin alone
// uses, holds the installed tree under /usr, and its unpacked glimmerbox-fx
// runs from wherever it was unpacked. Without dependencies there is no
// package. Our libraries lie in a private folder off the loader's path, and
// the package runs no maintainer script.
#include "tests/desktop/installtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
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

    static inline fs::path root;
    static inline fs::path deb;
    static inline fs::path unpacked;
};

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

} // namespace
