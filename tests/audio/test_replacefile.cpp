// SPDX-License-Identifier: GPL-3.0-or-later
// Where every writer puts its file: links followed only where the kernel
// would follow them in a shared folder, a name swapped for a link while
// writing replaced as a name, and the replaced file's owner, group and
// permissions kept without the set-user-ID and set-group-ID bits.
#include "audio/realaudio.h"
#include "audio/soundfile.h"
#include "audio/wavefile.h"
#include "base/replacefile.h"
#include "wavetesting.h"
#include "tests/mediatesting.h"

#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace wavetesting;

namespace {

constexpr uid_t Nobody = 65534;
const Bytes Precious{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
const int16_t Clip[320] = {1000, -1000, 2000, -2000};

struct Writer {
    const char *Name;
    std::function<bool(const std::string &)> Write;
    std::string Magic; // the first bytes of what it writes
};

const Writer Writers[] = {
    {"WAVE", [](const std::string &name) { return WriteWaveFile(name, 22050, 16, 1, Clip, sizeof Clip); }, "RIFF"},
    {"WAVE with settings",
     [](const std::string &name) {
         return WriteWaveFileWithSettings(name, 22050, 16, 1, Clip, sizeof Clip, TEffectSettings{});
     },
     "RIFF"},
    {"FLAC", [](const std::string &name) { return WriteSoundFile(name, SoundFileKind::Flac, 22050, Clip, 320); },
     "fLaC"},
    {"Ogg", [](const std::string &name) { return WriteSoundFile(name, SoundFileKind::Ogg, 22050, Clip, 320); }, "OggS"},
    {"RealAudio",
     [](const std::string &name) {
         std::string error;
         return WriteRealAudioFile(name, Clip, 320, 22050, nullptr, error);
     },
     ".RMF"},
};

bool IsRoot()
{
    return ::geteuid() == 0;
}

void MakeFolder(const fs::path &folder, mode_t mode, uid_t owner = static_cast<uid_t>(-1))
{
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
    ASSERT_EQ(::chown(folder.c_str(), owner, static_cast<gid_t>(-1)), 0);
}

void MakeLink(const std::string &to, const fs::path &link, uid_t owner = static_cast<uid_t>(-1))
{
    fs::create_symlink(to, link);
    ASSERT_EQ(::lchown(link.c_str(), owner, static_cast<gid_t>(-1)), 0);
}

bool StartsWith(const Bytes &bytes, const std::string &magic)
{
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

// Names of the hidden temporary files left anywhere under folder.
std::vector<std::string> Leftovers(const fs::path &folder)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().rfind(".gbx", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

TEST(FileReplacement, EveryWriterFollowsLinksOnlyWhereTheKernelWould)
{
    constexpr uid_t Own = static_cast<uid_t>(-1); // left as made: the writer's
    // The link is f/out, naming To from inside f; with Via, the name written
    // is a link of the writer's to f/out. WrittenAt empty: refused.
    const struct {
        const char *Name;
        mode_t FolderMode;
        uid_t FolderOwner;
        uid_t LinkOwner;
        const char *To;
        bool Via;
        const char *WrittenAt;
    } cases[] = {
        {"another user's link in a shared folder", 01777, Own, Nobody, "../victim", false, ""},
        {"another user's dangling link in a shared folder", 01777, Own, Nobody, "../created", false, ""},
        {"a chain that reaches such a link", 01777, Own, Nobody, "../victim", true, ""},
        {"the writer's own link in a shared folder", 01777, Own, Own, "../victim", false, "victim"},
        {"the folder owner's link in a shared folder", 01777, Nobody, Nobody, "../victim", false, "victim"},
        {"another user's link in a folder that is not sticky", 0777, Own, Nobody, "../victim", false, "victim"},
        {"a dangling link makes the file it names", 0755, Own, Own, "../created", false, "created"},
    };
    for (const Writer &writer : Writers)
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(writer.Name) + ": " + c.Name);
            if ((c.LinkOwner == Nobody || c.FolderOwner == Nobody) && !IsRoot())
                continue; // links and folders of another user can only be made by root
            TempFolder folder;
            WriteBytes(folder.File("victim"), Precious);
            MakeFolder(folder.Path() / "f", c.FolderMode, c.FolderOwner);
            MakeLink(c.To, folder.Path() / "f/out", c.LinkOwner);
            if (c.Via)
                MakeLink("f/out", folder.Path() / "mine");
            const fs::path name = folder.Path() / (c.Via ? "mine" : "f/out");
            const bool written = writer.Write(name.string());
            EXPECT_TRUE(Leftovers(folder.Path()).empty());
            EXPECT_TRUE(fs::is_symlink(name)) << "the link given stays a link";
            EXPECT_EQ(written, *c.WrittenAt != 0);
            if (written) {
                EXPECT_TRUE(StartsWith(ReadBytes(folder.File(c.WrittenAt)), writer.Magic));
            } else {
                EXPECT_NE(LastReplacementFailure().find("symbolic link"), std::string::npos);
                EXPECT_EQ(ReadBytes(folder.File("victim")), Precious);
                EXPECT_FALSE(fs::exists(folder.Path() / "created"));
            }
        }
}

TEST(FileReplacement, ANameSwappedForALinkWhileWritingIsReplacedAsAName)
{
    if (!IsRoot())
        GTEST_SKIP() << "a link of another user can only be made by root";
    TempFolder folder;
    WriteBytes(folder.File("victim"), Precious);
    MakeFolder(folder.Path() / "shared", 01777);
    const fs::path out = folder.Path() / "shared/out";
    WriteBytes(out, Bytes{1});

    TFileReplacement replacement(out.string());
    ASSERT_TRUE(replacement.Open());
    ASSERT_EQ(::write(replacement.Descriptor(), "new", 3), 3);
    // Between the look at the name and the rename, someone else puts a
    // link in its place.
    fs::remove(out);
    MakeLink("../victim", out, Nobody);
    ASSERT_TRUE(replacement.Commit());

    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ(ReadBytes(out.string()), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(ReadBytes(folder.File("victim")), Precious);
}

TEST(FileReplacement, TheReplacedFileKeepsOwnerGroupAndModeLessSetIdBits)
{
    const struct {
        mode_t Before;
        mode_t After;
    } modes[] = {{06755, 0755}, {04700, 0700}, {02640, 0640}, {0600, 0600}, {01644, 01644}};
    const uid_t owner = IsRoot() ? Nobody : ::geteuid();
    const gid_t group = IsRoot() ? Nobody : ::getegid();
    for (const Writer &writer : Writers)
        for (const auto &m : modes) {
            SCOPED_TRACE(std::string(writer.Name) + " " + std::to_string(m.Before));
            TempFolder folder;
            const std::string name = folder.File("voice");
            WriteBytes(name, Precious);
            ASSERT_EQ(::chown(name.c_str(), owner, group), 0);
            ASSERT_EQ(::chmod(name.c_str(), m.Before), 0);
            ASSERT_TRUE(writer.Write(name));
            struct stat after {};
            ASSERT_EQ(::stat(name.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode & 07777, m.After);
            EXPECT_EQ(after.st_uid, owner);
            EXPECT_EQ(after.st_gid, group);
            EXPECT_TRUE(StartsWith(ReadBytes(name), writer.Magic));
        }
}

} // namespace
