// SPDX-License-Identifier: GPL-3.0-or-later
// The two WAVE writers: exact bytes on disk, and what happens when a write
// cannot be completed.
#include "audio/wavefile.h"
#include "wavetesting.h"

using namespace wavetesting;

namespace {

// A record with a few words set and the rest zero, and the 514 bytes it
// must become in a file, written out by hand.
TEffectSettings SampleRecord()
{
    TEffectSettings record;
    record.Words[0] = 14;
    record.Words[1] = 1;
    record.Words[12] = static_cast<uint16_t>(-3);
    record.Words[200] = 0xBEEF;
    record.Words[256] = 0x1234;
    return record;
}

Bytes SampleRecordBytes()
{
    Bytes bytes(514, 0);
    bytes[0] = 0x0E;
    bytes[2] = 0x01;
    bytes[24] = 0xFD; // word 12, -3
    bytes[25] = 0xFF;
    bytes[400] = 0xEF; // word 200
    bytes[401] = 0xBE;
    bytes[512] = 0x34; // word 256
    bytes[513] = 0x12;
    return bytes;
}

TEST(WaveWriter, PlainFileWithEvenDataIsByteExact)
{
    TempFolder folder;
    const std::string name = folder.File("even.wav");
    const int16_t samples[] = {0x0102, -2};
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, samples, 4));

    const Bytes expected = {
        'R',  'I',  'F',  'F',  44, 0, 0, 0, // 40 + 4
        'W',  'A',  'V',  'E',               //
        'f',  'm',  't',  ' ',  20, 0, 0, 0, //
        1,    0,    1,    0,                 // PCM, mono
        0x22, 0x56, 0,    0,                 // 22050
        0x44, 0xAC, 0,    0,                 // 44100 bytes per second
        2,    0,    16,   0,                 // block align, bits
        0,    0,    0,    0,                 // extra size, reserved
        'd',  'a',  't',  'a',  4,  0, 0, 0, //
        0x02, 0x01, 0xFE, 0xFF,              //
    };
    EXPECT_EQ(ReadBytes(name), expected);
}

TEST(WaveWriter, PlainFileWithOddDataGetsAPadByteOutsideTheDataSize)
{
    TempFolder folder;
    const std::string name = folder.File("odd.wav");
    const uint8_t samples[] = {0x80, 0x00, 0xFF};
    ASSERT_TRUE(WriteWaveFile(name, 11025, 8, 1, samples, 3));

    const Bytes expected = {
        'R',  'I',  'F',  'F',  44, 0, 0, 0, // 40 + 3 + pad
        'W',  'A',  'V',  'E',               //
        'f',  'm',  't',  ' ',  20, 0, 0, 0, //
        1,    0,    1,    0,                 //
        0x11, 0x2B, 0,    0,                 // 11025
        0x11, 0x2B, 0,    0,                 // 11025 bytes per second
        1,    0,    8,    0,                 //
        0,    0,    0,    0,                 //
        'd',  'a',  't',  'a',  3,  0, 0, 0, // pad not counted
        0x80, 0x00, 0xFF, 0x00,              //
    };
    EXPECT_EQ(ReadBytes(name), expected);
}

TEST(WaveWriter, SettingsFileWithEvenDataIsByteExact)
{
    TempFolder folder;
    const std::string name = folder.File("settings.wav");
    const int16_t samples[] = {1, -1, 256, -256};
    ASSERT_TRUE(WriteWaveFileWithSettings(name, 44100, 16, 2, samples, 8, SampleRecord()));

    Bytes expected = {
        'R',  'I',  'F',  'F', 0x3A, 0x02, 0, 0, // 562 + 8 = 570
        'W',  'A',  'V',  'E',                   //
        'f',  'm',  't',  ' ', 20,   0,    0, 0, //
        1,    0,    2,    0,                     // PCM, stereo
        0x44, 0xAC, 0,    0,                     // 44100
        0x10, 0xB1, 0x02, 0,                     // 176400 bytes per second
        4,    0,    16,   0,                     //
        0,    0,    0,    0,                     //
        'q',  'm',  'b',  'l', 0x02, 0x02, 0, 0, // 514
    };
    Append(expected, SampleRecordBytes());
    Append(expected, {'d', 'a', 't', 'a', 8, 0, 0, 0, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0xFF});
    ASSERT_EQ(expected.size(), 578u);
    EXPECT_EQ(ReadBytes(name), expected);
}

TEST(WaveWriter, SettingsFileWithOddDataIsByteExact)
{
    TempFolder folder;
    const std::string name = folder.File("settings-odd.wav");
    const uint8_t samples[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(WriteWaveFileWithSettings(name, 22050, 8, 2, samples, 5, SampleRecord()));

    Bytes expected = {
        'R',  'I',  'F', 'F', 0x38, 0x02, 0, 0, // 562 + 5 + pad = 568
        'W',  'A',  'V', 'E',                   //
        'f',  'm',  't', ' ', 20,   0,    0, 0, //
        1,    0,    2,   0,                     //
        0x22, 0x56, 0,   0,                     // 22050
        0x44, 0xAC, 0,   0,                     // 2 x 22050
        2,    0,    8,   0,                     //
        0,    0,    0,   0,                     //
        'q',  'm',  'b', 'l', 0x02, 0x02, 0, 0, //
    };
    Append(expected, SampleRecordBytes());
    Append(expected, {'d', 'a', 't', 'a', 5, 0, 0, 0, 1, 2, 3, 4, 5, 0});
    ASSERT_EQ(expected.size(), 576u);
    EXPECT_EQ(ReadBytes(name), expected);
}

TEST(WaveWriter, EmptyClipStillMakesAWholeFile)
{
    TempFolder folder;
    const std::string name = folder.File("empty.wav");
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, nullptr, 0));
    const Bytes file = ReadBytes(name);
    ASSERT_EQ(file.size(), 48u);
    EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 8), (Bytes{40, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 40, file.end()), (Bytes{'d', 'a', 't', 'a', 0, 0, 0, 0}));
}

TEST(WaveWriter, OverwritesAnExistingFileCompletely)
{
    TempFolder folder;
    const std::string name = folder.File("over.wav");
    WriteBytes(name, Bytes(1000, 0xAA));
    const int16_t samples[] = {7};
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, samples, 2));
    const Bytes file = ReadBytes(name);
    ASSERT_EQ(file.size(), 50u);
    EXPECT_EQ(file[48], 7);
    EXPECT_EQ(file[49], 0);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"over.wav"});
}

TEST(WaveWriter, OverwritingKeepsTheFilesPermissions)
{
    TempFolder folder;
    const std::string name = folder.File("private.wav");
    WriteBytes(name, Bytes(100, 0xAA));
    fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write);
    const int16_t samples[] = {7};
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, samples, 2));
    EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadBytes(name).size(), 50u);
}

TEST(WaveWriter, NameThatIsALinkWritesTheFileItLeadsTo)
{
    TempFolder folder;
    fs::create_directory(folder.Path() / "voices");
    const std::string target = folder.File("voices/real.wav");
    const std::string link = folder.File("link.wav");
    WriteBytes(target, Bytes(100, 0xAA));
    fs::create_symlink("voices/real.wav", link);
    const int16_t samples[] = {7, -1};
    ASSERT_TRUE(WriteWaveFileWithSettings(link, 22050, 16, 1, samples, 4, SampleRecord()));
    EXPECT_TRUE(fs::is_symlink(link));
    const Bytes file = ReadBytes(target);
    ASSERT_EQ(file.size(), 574u);
    EXPECT_EQ(Bytes(file.begin() + 570, file.end()), (Bytes{7, 0, 0xFF, 0xFF}));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"link.wav", "voices"}));
    EXPECT_EQ(fs::directory_iterator(folder.Path() / "voices")->path().filename(), "real.wav");
}

TEST(WaveWriter, LinksToFilesThatDoNotExistYetAreFollowedAndStayLinks)
{
    // Relative and absolute links, a chain of two, each naming a file that
    // is not there yet: the file is created where the chain ends.
    TempFolder folder;
    fs::create_directory(folder.Path() / "voices");
    const struct {
        const char *Name;
        std::vector<std::pair<std::string, std::string>> Links; // link -> what it names
        std::string Written;
    } cases[] = {
        {"relative", {{"rel.wav", "voices/new1.wav"}}, "voices/new1.wav"},
        {"absolute", {{"abs.wav", folder.File("voices/new2.wav")}}, "voices/new2.wav"},
        {"chain", {{"first.wav", "second.wav"}, {"second.wav", "voices/new3.wav"}}, "voices/new3.wav"},
        {"relative inside a folder", {{"voices/inner.wav", "new4.wav"}}, "voices/new4.wav"},
    };
    const int16_t samples[] = {3, -3};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        for (const auto &[link, to] : c.Links)
            fs::create_symlink(to, folder.Path() / link);
        ASSERT_TRUE(WriteWaveFile(folder.File(c.Links.front().first), 22050, 16, 1, samples, 4));
        for (const auto &link : c.Links)
            EXPECT_TRUE(fs::is_symlink(folder.Path() / link.first));
        const Bytes file = ReadBytes(folder.File(c.Written));
        ASSERT_EQ(file.size(), 52u);
        EXPECT_EQ(Bytes(file.begin() + 48, file.end()), (Bytes{3, 0, 0xFD, 0xFF}));
    }
}

TEST(WaveWriter, ALinkLoopFailsAndLeavesTheLinks)
{
    TempFolder folder;
    fs::create_symlink("b.wav", folder.Path() / "a.wav");
    fs::create_symlink("a.wav", folder.Path() / "b.wav");
    const int16_t samples[] = {1};
    // The loop cannot be written through; the name is then replaced as a
    // plain file or refused, but never leaves a temporary file behind.
    WriteWaveFile(folder.File("a.wav"), 22050, 16, 1, samples, 2);
    for (const std::string &name : folder.Entries())
        EXPECT_NE(name.substr(0, 4), ".gbx") << name;
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "b.wav"));
}

TEST(WaveWriter, MissingFolderGivesFalseAndCreatesNothing)
{
    TempFolder folder;
    const std::string name = folder.File("no-such-folder/out.wav");
    const int16_t samples[] = {1, 2};
    EXPECT_FALSE(WriteWaveFile(name, 22050, 16, 1, samples, 4));
    EXPECT_FALSE(WriteWaveFileWithSettings(name, 22050, 16, 1, samples, 4, SampleRecord()));
    EXPECT_FALSE(fs::exists(folder.Path() / "no-such-folder"));
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(WaveWriter, PathThroughARegularFileGivesFalseAndLeavesTheFileAlone)
{
    TempFolder folder;
    const std::string plain = folder.File("plain.wav");
    WriteBytes(plain, Bytes{1, 2, 3});
    const int16_t samples[] = {1, 2};
    EXPECT_FALSE(WriteWaveFile(plain + "/out.wav", 22050, 16, 1, samples, 4));
    EXPECT_EQ(ReadBytes(plain), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"plain.wav"});
}

TEST(WaveWriter, TargetThatIsAFolderGivesFalseAndNoLeftovers)
{
    TempFolder folder;
    fs::create_directory(folder.Path() / "taken.wav");
    const int16_t samples[] = {1, 2};
    EXPECT_FALSE(WriteWaveFile(folder.File("taken.wav"), 22050, 16, 1, samples, 4));
    EXPECT_TRUE(fs::is_directory(folder.Path() / "taken.wav"));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"taken.wav"});
}

TEST(WaveWriter, FailedWriteKeepsTheGoodFileByteIdentical)
{
    TempFolder folder;
    const std::string name = folder.File("good.wav");
    const int16_t good[] = {11, 22, 33};
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, good, 6));
    const Bytes before = ReadBytes(name);

    std::vector<int16_t> big(4000, 1234);
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(WriteWaveFile(name, 22050, 16, 1, big.data(), 8000));
        EXPECT_FALSE(WriteWaveFileWithSettings(name, 22050, 16, 1, big.data(), 8000, SampleRecord()));
    }
    EXPECT_EQ(ReadBytes(name), before);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"good.wav"});
}

TEST(WaveWriter, RefusesSizesThatDoNotFitTheHeader)
{
    TempFolder folder;
    const std::string name = folder.File("huge.wav");
    const int16_t samples[] = {1};
    // 562 + N would pass 2^32 - 1: refused before anything is read.
    EXPECT_FALSE(WriteWaveFileWithSettings(name, 22050, 16, 1, samples, 0xFFFFFFF0u, SampleRecord()));
    // No samples for a non-empty clip.
    EXPECT_FALSE(WriteWaveFile(name, 22050, 16, 1, nullptr, 2));
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(WaveWriter, RoundTripWithOddByteCountGivesBackExactlyThoseBytes)
{
    TempFolder folder;
    const std::string name = folder.File("round.wav");
    const uint8_t bytes[] = {0x01, 0x80, 0xFF, 0x7F, 0x00, 0x80, 0x33, 0x44, 0x55};
    ASSERT_TRUE(WriteWaveFileWithSettings(name, 22050, 16, 1, bytes, 9, SampleRecord()));

    RecordingSink messages;
    int32_t byteCount = -1;
    TEffectSettings record;
    const auto samples = ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages);
    ASSERT_TRUE(samples);
    EXPECT_EQ(byteCount, 9);
    EXPECT_EQ(
        Bytes(reinterpret_cast<const uint8_t *>(samples.get()), reinterpret_cast<const uint8_t *>(samples.get()) + 9),
        Bytes(bytes, bytes + 9));
    EXPECT_EQ(record, SampleRecord());
    EXPECT_TRUE(messages.Texts.empty());
}

} // namespace
