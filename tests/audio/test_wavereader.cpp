// SPDX-License-Identifier: GPL-3.0-or-later
// The WAVE reader: every accepted layout with exact samples, the settings
// chunk, and the files it turns away.
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <sys/stat.h>

using namespace wavetesting;

namespace {

// Input of every layout case: 23 16-bit samples or 17 8-bit bytes, odd on
// purpose so that each halving stage has a leftover to drop.
const std::vector<int16_t> Input16 = {-3,     0,     1, -2, 32767, 32767, 32767, 32765, -32768, -32768, -32768, -32767,
                                      -32768, 32767, 5, -5, 2,     1000,  -999,  7,     300,    301,    77};
const Bytes Input8 = {0, 255, 128, 129, 10, 20, 30, 40, 7, 1, 254, 253, 100, 3, 200, 61, 5};

struct LayoutCase {
    uint16_t Bits;
    uint16_t Channels;
    uint32_t Rate;
    std::vector<int16_t> Expected;
};

// Expected samples from a separate reference (Python, run once):
//   8-bit: u * 256 - 32768; stereo: trunc((l + r) / 2.0) per pair;
//   11025: each sample twice; 44100: trunc((a + b) / 2.0) per pair;
//   incomplete pairs dropped; stages in that order.
const LayoutCase LayoutCases[] = {
    {8, 1, 11025, {-32768, -32768, 32512,  32512,  0,      0,      256,    256,    -30208, -30208, -27648, -27648,
                   -25088, -25088, -22528, -22528, -30976, -30976, -32512, -32512, 32256,  32256,  32000,  32000,
                   -7168,  -7168,  -32000, -32000, 18432,  18432,  -17152, -17152, -31488, -31488}},
    {8,
     1,
     22050,
     {-32768, 32512, 0, 256, -30208, -27648, -25088, -22528, -30976, -32512, 32256, 32000, -7168, -32000, 18432, -17152,
      -31488}},
    {8, 1, 44100, {-128, 128, -28928, -23808, -31744, 32128, -19584, 640}},
    {8,
     2,
     11025,
     {-128, -128, 128, 128, -28928, -28928, -23808, -23808, -31744, -31744, 32128, 32128, -19584, -19584, 640, 640}},
    {8, 2, 22050, {-128, 128, -28928, -23808, -31744, 32128, -19584, 640}},
    {8, 2, 44100, {0, -26368, 192, -9472}},
    {16, 1, 11025, {-3,     -3,     0,     0,     1,      1,      -2,     -2,     32767,  32767,  32767,  32767,
                    32767,  32767,  32765, 32765, -32768, -32768, -32768, -32768, -32768, -32768, -32767, -32767,
                    -32768, -32768, 32767, 32767, 5,      5,      -5,     -5,     2,      2,      1000,   1000,
                    -999,   -999,   7,     7,     300,    300,    301,    301,    77,     77}},
    {16, 1, 22050, {-3,     0,     1, -2, 32767, 32767, 32767, 32765, -32768, -32768, -32768, -32767,
                    -32768, 32767, 5, -5, 2,     1000,  -999,  7,     300,    301,    77}},
    {16, 1, 44100, {-1, 0, 32767, 32766, -32768, -32767, 0, 0, 501, -496, 300}},
    {16, 2, 11025, {-1,     -1, 0, 0, 32767, 32767, 32766, 32766, -32768, -32768, -32767,
                    -32767, 0,  0, 0, 0,     501,   501,   -496,  -496,   300,    300}},
    {16, 2, 22050, {-1, 0, 32767, 32766, -32768, -32767, 0, 0, 501, -496, 300}},
    {16, 2, 44100, {0, 32766, -32767, 0, 2}},
};

class WaveReader : public ::testing::Test {
protected:
    // Reads with the program's one target format; byteCount starts at a
    // value no read could give.
    std::unique_ptr<int16_t[]> Read(const std::string &name)
    {
        byteCount = -77;
        return ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages);
    }
    std::unique_ptr<int16_t[]> ReadBytesAsFile(const Bytes &file)
    {
        const std::string name = folder.File("in.wav");
        WriteBytes(name, file);
        return Read(name);
    }

    TempFolder folder;
    PrivateTmpDir tmp; // the reader's temporary files land here
    RecordingSink messages;
    int32_t byteCount = 0;
    TEffectSettings record = MarkedRecord();

    // What the caller had in its record before reading.
    static TEffectSettings MarkedRecord()
    {
        TEffectSettings marked;
        marked.Words[0] = 14;
        marked.Words[5] = 1;
        marked.Words[12] = 6;
        return marked;
    }
};

TEST_F(WaveReader, EveryAcceptedLayoutGivesExactSamples)
{
    for (const LayoutCase &c : LayoutCases) {
        SCOPED_TRACE(testing::Message() << c.Bits << " bits, " << c.Channels << " channels, " << c.Rate << " Hz");
        messages.Texts.clear();
        const Bytes data = c.Bits == 8 ? Input8 : Samples16(Input16);
        const auto samples = ReadBytesAsFile(SimpleWave(c.Channels, c.Rate, c.Bits, data));
        ASSERT_TRUE(samples);
        EXPECT_EQ(byteCount, static_cast<int32_t>(2 * c.Expected.size()));
        EXPECT_EQ(ToSamples(samples.get(), byteCount), c.Expected);
        EXPECT_TRUE(messages.Texts.empty());
        EXPECT_EQ(record, MarkedRecord());
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

TEST_F(WaveReader, StereoPairOfMinusThreeAndZeroBecomesMinusOne)
{
    const auto samples = ReadBytesAsFile(SimpleWave(2, 22050, 16, Samples16({-3, 0, 0, -3, 3, 0, 1, -2})));
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{-1, -1, 1, 0}));
}

TEST_F(WaveReader, EightBitStereo44100HalvesTheFrameCount)
{
    // 8 frames of 8-bit stereo become 4 mono 16-bit samples. The last two
    // frames widen to (0, 256) and (512, 768), pair to 128 and 640, and
    // average to 384.
    const Bytes frames = {128, 128, 128, 128, 255, 255, 255, 255, 0, 0, 0, 0, 128, 129, 130, 131};
    const auto samples = ReadBytesAsFile(SimpleWave(2, 44100, 8, frames));
    ASSERT_TRUE(samples);
    EXPECT_EQ(byteCount, 8);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{0, 32512, -32768, 384}));
}

TEST_F(WaveReader, SettingsChunkTravelsThroughConversionWithAllItsBytes)
{
    Bytes recordBytes(514);
    for (std::size_t i = 0; i < recordBytes.size(); ++i)
        recordBytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const Bytes file = RiffWave({Chunk("fmt ", Format(2, 44100, 8)), Chunk("qmbl", recordBytes),
                                 Chunk("data", Bytes{0, 0, 255, 255, 1, 3, 5, 7})});
    const auto samples = ReadBytesAsFile(file);
    ASSERT_TRUE(samples);
    // Widened: -32768 -32768 32512 32512 -32512 -32000 -31488 -30976;
    // to mono: -32768 32512 -32256 -31232; to 22050 Hz: -128 -31744.
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{-128, -31744}));
    const auto got = record.ToBytes();
    EXPECT_EQ(Bytes(got.begin(), got.end()), recordBytes);
    EXPECT_EQ(record.Words[12], static_cast<uint16_t>(recordBytes[24] | recordBytes[25] << 8));
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

TEST_F(WaveReader, SettingsChunkOnADirectReadReplacesTheRecord)
{
    Bytes recordBytes(514, 0);
    recordBytes[0] = 12;
    recordBytes[24] = 0xFE; // pitch -2
    recordBytes[25] = 0xFF;
    recordBytes[500] = 0x5A; // a reserved word
    const auto samples = ReadBytesAsFile(
        RiffWave({Chunk("fmt ", Format(1, 22050, 16)), Chunk("qmbl", recordBytes), Chunk("data", Samples16({9}))}));
    ASSERT_TRUE(samples);
    EXPECT_EQ(record.Words[0], 12);
    EXPECT_EQ(static_cast<int16_t>(record.Words[12]), -2);
    EXPECT_EQ(record.Words[250], 0x5A);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), std::vector<int16_t>{9});
}

TEST_F(WaveReader, SettingsChunkOfAnyOtherSizeIsSkipped)
{
    for (const std::size_t size : {0u, 2u, 512u, 513u, 515u, 516u, 1028u}) {
        SCOPED_TRACE(size);
        const Bytes file = RiffWave(
            {Chunk("fmt ", Format(1, 11025, 16)), Chunk("qmbl", Bytes(size, 0x11)), Chunk("data", Samples16({-7, 8}))});
        const auto samples = ReadBytesAsFile(file);
        ASSERT_TRUE(samples);
        EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{-7, -7, 8, 8}));
        EXPECT_EQ(record, MarkedRecord());
        EXPECT_TRUE(messages.Texts.empty());
    }
}

TEST_F(WaveReader, DirectReadMakesNoTemporaryFile)
{
    const auto samples = ReadBytesAsFile(SimpleWave(1, 22050, 16, Samples16({1, 2, 3})));
    ASSERT_TRUE(samples);
    EXPECT_EQ(byteCount, 6);
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

TEST_F(WaveReader, OtherChunksAroundAreSkippedHonouringThePadByte)
{
    const Bytes file = RiffWave({Chunk("JUNK", Bytes(3, 0xEE)), Chunk("fmt ", Format(1, 22050, 16, 1, 2)),
                                 Chunk("LIST", Bytes(7, 'x')), Chunk("fact", Bytes{1, 0, 0, 0}),
                                 Chunk("data", Samples16({-1, 32767})), Chunk("LIST", Bytes(5, 'y'))});
    const auto samples = ReadBytesAsFile(file);
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{-1, 32767}));
}

TEST_F(WaveReader, FormatChunkOfTwentyBytesIsRead)
{
    const auto samples =
        ReadBytesAsFile(RiffWave({Chunk("fmt ", Format(1, 22050, 16, 1, 4)), Chunk("data", Samples16({4, 5}))}));
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{4, 5}));
}

TEST_F(WaveReader, MissingFileGivesNothingAndNoMessage)
{
    EXPECT_FALSE(Read(folder.File("absent.wav")));
    EXPECT_EQ(byteCount, -77);
    EXPECT_TRUE(messages.Texts.empty());
}

TEST_F(WaveReader, NameUnderAPlainFileDoesNotExistAndGivesNoMessage)
{
    // "voice.wav/absent.wav": a path through a file names nothing at all.
    const std::string file = folder.File("voice.wav");
    WriteBytes(file, SimpleWave(1, 22050, 16, Bytes(8, 1)));
    EXPECT_FALSE(Read(file + "/absent.wav"));
    EXPECT_EQ(byteCount, -77);
    EXPECT_TRUE(messages.Texts.empty());
}

struct RejectCase {
    const char *Name;
    Bytes File;
};

// "RIFX": the big-endian relative of RIFF.
Bytes BigEndianRiff()
{
    Bytes file = SimpleWave(1, 22050, 16, Samples16({1, 2}));
    file[3] = 'X';
    return file;
}

Bytes ShortFormat()
{
    Bytes format = Format(1, 22050, 16);
    format.resize(14);
    return format;
}

const Bytes Data = Samples16({1, 2, 3, 4});
const Bytes Record514(514, 1);

const RejectCase RejectCases[] = {
    {"not RIFF", BigEndianRiff()},
    {"not WAVE", RiffWave({Chunk("fmt ", Format(1, 22050, 16)), Chunk("data", Data)}, -1, "AVI ")},
    {"no fmt", RiffWave({Chunk("data", Data)})},
    {"short fmt", RiffWave({Chunk("fmt ", ShortFormat()), Chunk("data", Data)})},
    {"empty fmt", RiffWave({Chunk("fmt ", {}), Chunk("data", Data)})},
    {"compressed", RiffWave({Chunk("fmt ", Format(1, 22050, 16, 2)), Chunk("data", Data)})},
    {"no channels", SimpleWave(0, 22050, 16, Data)},
    {"no data", RiffWave({Chunk("fmt ", Format(1, 22050, 16))})},
    {"data before fmt", RiffWave({Chunk("data", Data), Chunk("fmt ", Format(1, 22050, 16))})},
    {"qmbl after data", RiffWave({Chunk("fmt ", Format(1, 22050, 16)), Chunk("data", Data), Chunk("qmbl", Record514)})},
    {"qmbl but no data", RiffWave({Chunk("fmt ", Format(2, 44100, 8)), Chunk("qmbl", Record514)})},
    {"empty file", {}},
    {"text", {'h', 'e', 'l', 'l', 'o', '\n'}},
};

TEST_F(WaveReader, RejectedFilesGiveTheMessageAndChangeNothing)
{
    for (const RejectCase &c : RejectCases) {
        SCOPED_TRACE(c.Name);
        messages.Texts.clear();
        const std::string name = folder.File("bad.wav");
        WriteBytes(name, c.File);
        EXPECT_FALSE(Read(name));
        EXPECT_EQ(messages.Texts, std::vector<std::string>{"Incompatible file format of: " + name});
        EXPECT_EQ(messages.Captions, std::vector<std::string>(messages.Texts.size(), "Tamblor Glimmerbox"));
        messages.Captions.clear();
        EXPECT_EQ(byteCount, -77);
        EXPECT_EQ(record, MarkedRecord());
        EXPECT_EQ(ReadBytes(name), c.File);
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

// Layouts beyond the twelve are no longer turned away: they open through
// the general sound-file reader (tested in depth in test_soundfile.cpp).
// Data holds the bytes 01 00 02 00 03 00 04 00.
struct BeyondCase {
    const char *Name;
    Bytes File;
    std::size_t Count;             // samples that come back
    std::vector<int16_t> Expected; // when they can be worked out by hand
};

const BeyondCase BeyondCases[] = {
    // Two floats of about 1e-40: silence.
    {"float", RiffWave({Chunk("fmt ", Format(1, 22050, 32, 3)), Chunk("data", Data)}), 2, {0, 0}},
    // 0x020001 / 256 = 512.004 and 0x000300 / 256 = 3; the last two bytes are half a frame.
    {"24 bits", SimpleWave(1, 22050, 24, Data), 2, {512, 3}},
    // One frame (1, 2, 3), whose mean is 2; the last two bytes are a third of a frame.
    {"3 channels", SimpleWave(3, 22050, 16, Data), 1, {2}},
    // Resampled: 4 x 22050 / 48000, 8 x 22050 / 8000 and 1 x 22050 / 44100, rounded up.
    {"48000 Hz", SimpleWave(1, 48000, 16, Data), 2, {}},
    {"8000 Hz", SimpleWave(1, 8000, 8, Data), 22, {}},
    {"32 bits", SimpleWave(2, 44100, 32, Data), 1, {}},
};

TEST_F(WaveReader, LayoutsBeyondTheTwelveOpenThroughTheGeneralReader)
{
    for (const BeyondCase &c : BeyondCases) {
        SCOPED_TRACE(c.Name);
        messages.Texts.clear();
        const std::string name = folder.File("beyond.wav");
        WriteBytes(name, c.File);
        const auto samples = Read(name);
        ASSERT_TRUE(samples);
        EXPECT_TRUE(messages.Texts.empty());
        EXPECT_EQ(byteCount, static_cast<int32_t>(2 * c.Count));
        if (!c.Expected.empty()) {
            EXPECT_EQ(ToSamples(samples.get(), byteCount), c.Expected);
        }
        EXPECT_EQ(record, MarkedRecord());
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

TEST_F(WaveReader, FolderAndPipeAreRejectedWithoutWaiting)
{
    const std::string sub = folder.File("sub.wav");
    fs::create_directory(sub);
    EXPECT_FALSE(Read(sub));
    const std::string pipe = folder.File("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(Read(pipe));
    EXPECT_EQ(messages.Texts, (std::vector<std::string>{"Incompatible file format of: " + sub,
                                                        "Incompatible file format of: " + pipe}));
}

} // namespace
