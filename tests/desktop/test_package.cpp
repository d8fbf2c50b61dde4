// cpack -G DEB: the package is built from this build, names its version and
// architecture, depends on what dpkg-shlibdeps found the programs and
// libraries to need, holds the installed tree under /usr, and its unpacked
// glimmerbox-fx runs from wherever it was unpacked.
#include "tests/desktop/installtree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

    static inline fs::path root;
    static inline fs::path deb;
};

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
}

TEST_F(Package, HoldsTheInstalledTreeUnderUsr)
{
    const fs::path unpacked = root / "unpacked";
    const TRun extract = RunCommand("dpkg-deb -x " + Quote(deb.string()) + " " + Quote(unpacked.string()));
    ASSERT_EQ(extract.Status, 0) << extract.Output;
    EXPECT_EQ(FilesBelow(unpacked).size(), InstalledFiles().size()) << "nothing outside /usr";
    ExpectInstalledTree(unpacked / "usr");
}

TEST_F(Package, ItsUnpackedEffectToolRunsAndFindsItsLibraries)
{
    const fs::path unpacked = root / "run";
    const TRun extract = RunCommand("dpkg-deb -x " + Quote(deb.string()) + " " + Quote(unpacked.string()));
    ASSERT_EQ(extract.Status, 0) << extract.Output;
    ExpectSameOutputAsTheBuild(unpacked / "usr", root, "--echo --sweep-up", unpacked / "usr/lib/glimmerbox/SF2.WAV");
    const TRun libraries =
        RunCommand("env -u LD_LIBRARY_PATH ldd " + Quote((unpacked / "usr/lib/glimmerbox/glimmerbox").string()));
    EXPECT_EQ(libraries.Status, 0) << libraries.Output;
    EXPECT_EQ(libraries.Output.find("not found"), std::string::npos) << libraries.Output;
}

} // namespace
