// SPDX-License-Identifier: GPL-3.0-or-later
// Files that lie about their sizes, end early or are plain garbage, and the
// reader's temporary files when things go wrong. These also run under
// AddressSanitizer and UndefinedBehaviorSanitizer.
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace wavetesting;

namespace {

constexpr const char *Incompatible = "Incompatible file format of: ";

class HostileFile : public ::testing::Test {
protected:
    std::unique_ptr<int16_t[]> Read(const std::string &name, const ReadWaveHooks &hooks = {})
    {
        messages.Texts.clear();
        byteCount = -77;
        return ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages, hooks);
    }
    std::unique_ptr<int16_t[]> ReadFile(const Bytes &file)
    {
        WriteBytes(Name(), file);
        return Read(Name());
    }
    std::string Name() const { return folder.File("hostile.wav"); }

    // Either turned away with the one message and nothing changed, or read.
    void ExpectRejected()
    {
        EXPECT_EQ(messages.Texts, std::vector<std::string>{Incompatible + Name()});
        EXPECT_EQ(byteCount, -77);
        EXPECT_EQ(record, TEffectSettings{});
    }

    TempFolder folder;
    PrivateTmpDir tmp;
    RecordingSink messages;
    int32_t byteCount = -77;
    TEffectSettings record;
};

// fmt (16 bytes) at 12, qmbl at 36, "data" header at 558, samples from 566.
constexpr std::size_t SamplesOffset = 566;

Bytes RecordPattern()
{
    Bytes bytes(514);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i ^ 0xA5);
    return bytes;
}

Bytes Fmt16Plain()
{
    return Chunk("fmt ", Format(1, 22050, 16));
}

Bytes FileWithSettings(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data)
{
    return RiffWave({Chunk("fmt ", Format(channels, rate, bits)), Chunk("qmbl", RecordPattern()), Chunk("data", data)});
}

TEST_F(HostileFile, DirectFileTruncatedAnywhereIsRejectedOrGivesWhatIsThere)
{
    Bytes data(64);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    const Bytes whole = FileWithSettings(1, 22050, 16, data);
    ASSERT_EQ(whole.size(), SamplesOffset + data.size());
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        record = {};
        const auto samples = ReadFile(Bytes(whole.begin(), whole.begin() + length));
        if (length < SamplesOffset) {
            EXPECT_FALSE(samples);
            ExpectRejected();
            continue;
        }
        ASSERT_TRUE(samples);
        const std::size_t there = length - SamplesOffset;
        ASSERT_EQ(byteCount, static_cast<int32_t>(there));
        const auto *bytes = reinterpret_cast<const uint8_t *>(samples.get());
        EXPECT_EQ(Bytes(bytes, bytes + there), Bytes(data.begin(), data.begin() + there));
        EXPECT_EQ(record, TEffectSettings::FromBytes(RecordPattern().data()));
        EXPECT_TRUE(messages.Texts.empty());
    }
}

TEST_F(HostileFile, ConvertedFileTruncatedAnywhereGivesAPrefixOfTheWholeResult)
{
    Bytes data(80);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 29 + 3);
    const Bytes whole = FileWithSettings(2, 44100, 8, data);
    ASSERT_TRUE(ReadFile(whole));
    ASSERT_EQ(byteCount, 40); // 40 frames, 20 samples
    const auto full = [&] {
        const auto samples = ReadFile(whole);
        return ToSamples(samples.get(), byteCount);
    }();

    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        record = {};
        const auto samples = ReadFile(Bytes(whole.begin(), whole.begin() + length));
        EXPECT_TRUE(tmp.Folder().Entries().empty());
        if (length < SamplesOffset) {
            EXPECT_FALSE(samples);
            ExpectRejected();
            continue;
        }
        ASSERT_TRUE(samples);
        // Four input bytes (two 8-bit stereo frames) make one sample.
        const std::size_t count = (length - SamplesOffset) / 4;
        ASSERT_EQ(byteCount, static_cast<int32_t>(2 * count));
        EXPECT_EQ(ToSamples(samples.get(), byteCount), std::vector<int16_t>(full.begin(), full.begin() + count));
        EXPECT_EQ(record, TEffectSettings::FromBytes(RecordPattern().data()));
    }
}

TEST_F(HostileFile, DataSizeOfFourGigabytesGivesTheBytesThatAreThere)
{
    const Bytes file = RiffWave(
        {Chunk("fmt ", Format(1, 22050, 16)), Chunk("data", Samples16({5, -5, 6}), 0xFFFFFFFF, false)}, 0xFFFFFFFF);
    const auto samples = ReadFile(file);
    ASSERT_TRUE(samples);
    EXPECT_EQ(byteCount, 6);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{5, -5, 6}));
    EXPECT_TRUE(messages.Texts.empty());
}

TEST_F(HostileFile, DataSizeLargerThanTheFileGivesTheBytesThatAreThere)
{
    const auto samples =
        ReadFile(RiffWave({Chunk("fmt ", Format(1, 11025, 16)), Chunk("data", Samples16({300, -300}), 1000)}));
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{300, 300, -300, -300}));
}

TEST_F(HostileFile, ARiffSizeThatEndsEarlyStillGivesTheSamplesTheFileHolds)
{
    // The data chunk's header lies inside the RIFF chunk, so the search
    // finds it; its samples are read as far as the file goes, wherever the
    // RIFF size ends (right after the header, inside the samples, or at a
    // size that claims more than the file).
    const Bytes whole = RiffWave({Fmt16Plain(), Chunk("data", Samples16({1, -2, 3, -4}))});
    const uint32_t afterHeader = 4 + 24 + 8; // "WAVE", fmt, the data header
    const struct {
        const char *Name;
        uint32_t RiffSize;
        uint32_t DataSize;
        std::vector<int16_t> Expected;
    } cases[] = {
        {"RIFF ends right after the data header", afterHeader, 8, {1, -2, 3, -4}},
        {"RIFF ends after two samples", afterHeader + 4, 8, {1, -2, 3, -4}},
        {"RIFF ends two bytes before the file", afterHeader + 6, 8, {1, -2, 3, -4}},
        {"RIFF exact", afterHeader + 8, 8, {1, -2, 3, -4}},
        {"RIFF ends after the header, data claims more", afterHeader, 1000, {1, -2, 3, -4}},
        {"RIFF ends after the header, data claims less", afterHeader, 4, {1, -2}},
        {"RIFF ends after the header, data empty", afterHeader, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes file = whole;
        for (int i = 0; i < 4; ++i) {
            file[4 + i] = static_cast<uint8_t>(c.RiffSize >> (8 * i));
            file[8 + afterHeader - 4 + i] = static_cast<uint8_t>(c.DataSize >> (8 * i));
        }
        const auto samples = ReadFile(file);
        ASSERT_TRUE(samples);
        EXPECT_TRUE(messages.Texts.empty());
        EXPECT_EQ(byteCount, static_cast<int32_t>(2 * c.Expected.size()));
        EXPECT_EQ(ToSamples(samples.get(), byteCount), c.Expected);
    }
}

TEST_F(HostileFile, AConvertedFileWithAShortRiffSizeIsConvertedWhole)
{
    // 11025 Hz: every sample doubled, from a file whose RIFF size stops at
    // the data chunk's header.
    Bytes file = RiffWave({Chunk("fmt ", Format(1, 11025, 16)), Chunk("data", Samples16({7, -7, 9}))}, 4 + 24 + 8);
    const auto samples = ReadFile(file);
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{7, 7, -7, -7, 9, 9}));
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

struct SizeCase {
    const char *Name;
    Bytes File;
};

const Bytes Fmt16 = Chunk("fmt ", Format(1, 22050, 16));
const Bytes SomeData = Chunk("data", Samples16({1, 2, 3, 4}));

const SizeCase BadSizeCases[] = {
    {"RIFF size 0", RiffWave({Fmt16, SomeData}, 0)},
    {"RIFF size 3", RiffWave({Fmt16, SomeData}, 3)},
    {"RIFF size 4", RiffWave({Fmt16, SomeData}, 4)},
    {"RIFF ends inside fmt", RiffWave({Fmt16, SomeData}, 20)},
    {"RIFF ends before data", RiffWave({Fmt16, SomeData}, 4 + 24 + 4)},
    {"fmt size 0", RiffWave({Chunk("fmt ", {}), SomeData})},
    {"fmt size 2^32-1", RiffWave({Chunk("fmt ", Format(1, 22050, 16), 0xFFFFFFFF), SomeData})},
    {"fmt size 2^32-8", RiffWave({Chunk("fmt ", Format(1, 22050, 16), 0xFFFFFFF8), SomeData})},
    {"fmt past the end", RiffWave({Chunk("fmt ", Bytes{1, 0, 1, 0}, 16)})},
    {"chunk size 2^32-1 before data", RiffWave({Fmt16, Chunk("LIST", Bytes(4, 0), 0xFFFFFFFF), SomeData})},
    // 36 + 8 + 0xFFFFFFF8 wraps to 36 in 32 bits: the same chunk again.
    {"chunk size that wraps to itself", RiffWave({Fmt16, Chunk("LIST", Bytes(4, 0), 0xFFFFFFF8), SomeData})},
    {"chunk size that wraps to the start", RiffWave({Fmt16, Chunk("LIST", Bytes(4, 0), 0xFFFFFFD0), SomeData})},
    {"qmbl size 2^32-1", RiffWave({Fmt16, Chunk("qmbl", Bytes(514, 9), 0xFFFFFFFF), SomeData})},
    {"qmbl of 514 cut short", RiffWave({Fmt16, Chunk("qmbl", Bytes(100, 9), 514)})},
    {"data header cut short", RiffWave({Fmt16, Bytes{'d', 'a', 't', 'a', 4, 0}})},
    {"only RIFF", Bytes{'R', 'I', 'F', 'F'}},
    {"only RIFF and size", Bytes{'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF}},
    {"RIFF inside RIFF", RiffWave({Chunk("RIFF", RiffWave({Fmt16, SomeData}))})},
};

TEST_F(HostileFile, ImpossibleSizesAreRejectedWithoutOverReading)
{
    for (const SizeCase &c : BadSizeCases) {
        SCOPED_TRACE(c.Name);
        EXPECT_FALSE(ReadFile(c.File));
        ExpectRejected();
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

// Writes a header and makes the file `total` bytes long without writing
// the rest: the filesystem keeps it sparse, so it costs no disk space.
void MakeSparseFile(const std::string &name, const Bytes &header, uint64_t total)
{
    WriteBytes(name, header);
    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(total)), 0);
}

Bytes HeaderClaiming(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes)
{
    Bytes header = RiffWave({Chunk("fmt ", Format(channels, rate, bits))}, 0xFFFFFFFF);
    AppendId(header, "data");
    Append32(header, dataBytes);
    return header;
}

TEST_F(HostileFile, MoreThanTwoGigabytesOfSamplesIsRefusedBeforeAllocating)
{
    // 2^31 bytes of samples: one more than a 32-bit signed count can hold.
    const Bytes header = HeaderClaiming(1, 22050, 16, 0x80000000u);
    MakeSparseFile(Name(), header, header.size() + 0x80000000ull);
    EXPECT_FALSE(Read(Name()));
    ExpectRejected();
}

TEST_F(HostileFile, ConversionThatWouldPassTwoGigabytesIsRefusedBeforeAllocating)
{
    // 8-bit 11025 Hz: 768 MiB become four times as many bytes.
    const Bytes header = HeaderClaiming(1, 11025, 8, 0x30000000u);
    MakeSparseFile(Name(), header, header.size() + 0x30000000ull);
    EXPECT_FALSE(Read(Name()));
    ExpectRejected();
    // 16-bit 11025 Hz: 1 GiB doubles to exactly 2^31.
    const Bytes exact = HeaderClaiming(1, 11025, 16, 0x40000000u);
    MakeSparseFile(Name(), exact, exact.size() + 0x40000000ull);
    EXPECT_FALSE(Read(Name()));
    ExpectRejected();
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

// A valid file whose bytes are then mutated at random: no crash, no
// over-read (the sanitizers watch), and every outcome is one of the two.
TEST_F(HostileFile, RandomlyDamagedFilesAreReadOrRejected)
{
    std::mt19937 random(20240611);
    Bytes data(40);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    const Bytes valid = RiffWave({Chunk("LIST", Bytes(5, 'i')), Chunk("fmt ", Format(2, 11025, 8)),
                                  Chunk("qmbl", RecordPattern()), Chunk("data", data)});
    std::uniform_int_distribution<std::size_t> where(0, 80); // the headers and the chunk sizes
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 600; ++round) {
        Bytes file = valid;
        const int hits = 1 + round % 4;
        for (int h = 0; h < hits; ++h) {
            std::size_t at = where(random);
            if (at > 60)
                at = 560 + at - 60; // the "data" header and the first samples
            file[at] = static_cast<uint8_t>(value(random));
        }
        record = {};
        const auto samples = ReadFile(file);
        if (samples) {
            EXPECT_TRUE(messages.Texts.empty());
            EXPECT_GE(byteCount, 0);
            EXPECT_LE(static_cast<std::size_t>(byteCount), 4 * file.size());
        } else {
            EXPECT_EQ(messages.Texts.size(), 1u);
            EXPECT_EQ(byteCount, -77);
        }
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

// Chunks of random ids and sizes, nested and overlapping, after a valid
// "RIFF" "WAVE" header.
TEST_F(HostileFile, ChunkSoupIsReadOrRejected)
{
    std::mt19937 random(77);
    const char *const ids[] = {"fmt ", "data", "qmbl", "LIST", "RIFF", "JUNK"};
    std::uniform_int_distribution<int> pickId(0, 5);
    std::uniform_int_distribution<uint32_t> anySize;
    std::uniform_int_distribution<int> smallSize(0, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 400; ++round) {
        Bytes body;
        const int chunks = 1 + round % 6;
        for (int c = 0; c < chunks; ++c) {
            const char *id = ids[pickId(random)];
            for (int i = 0; i < 4; ++i)
                body.push_back(static_cast<uint8_t>(id[i]));
            const int payload = smallSize(random);
            Append32(body, round % 3 == 0 ? anySize(random) : static_cast<uint32_t>(payload));
            if (std::string(id) == "fmt " && round % 2 == 0) {
                Append(body, Format(static_cast<uint16_t>(1 + round % 2), 22050, 8));
                continue;
            }
            for (int i = 0; i < payload; ++i)
                body.push_back(static_cast<uint8_t>(byte(random)));
        }
        Bytes file;
        AppendId(file, "RIFF");
        Append32(file, round % 5 == 0 ? anySize(random) : static_cast<uint32_t>(body.size() + 4));
        AppendId(file, "WAVE");
        Append(file, body);
        const auto samples = ReadFile(file);
        EXPECT_EQ(samples ? 0u : 1u, messages.Texts.size());
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

struct HookLog {
    int Shown = 0;
    int Hidden = 0;
};

TEST_F(HostileFile, AFullTemporaryFolderIsNamedAndLeavesNoTemporaryFile)
{
    // The converted file (4000 sample bytes) cannot be written under a
    // 2000-byte file-size limit, as on a full disk; the source is smaller.
    const Bytes source = SimpleWave(1, 11025, 16, Bytes(2000, 0x11));
    WriteBytes(Name(), source);
    HookLog log;
    ReadWaveHooks hooks;
    hooks.ShowGauge = [](void *context) { ++static_cast<HookLog *>(context)->Shown; };
    hooks.HideGauge = [](void *context) { ++static_cast<HookLog *>(context)->Hidden; };
    hooks.Context = &log;
    std::unique_ptr<int16_t[]> samples;
    {
        FileSizeLimit limit(2100);
        samples = Read(Name(), hooks);
    }
    EXPECT_FALSE(samples);
    EXPECT_EQ(byteCount, -77);
    // Not the input's fault: the message names the temporary folder.
    EXPECT_EQ(messages.Texts,
              std::vector<std::string>{"The temporary folder " + tmp.Folder().Path().string() +
                                       " is full or not writable: " + Name() + " cannot be converted."});
    EXPECT_TRUE(tmp.Folder().Entries().empty());
    EXPECT_EQ(ReadBytes(Name()), source);
    EXPECT_EQ(log.Shown, 1);
    EXPECT_EQ(log.Hidden, 1);
}

TEST_F(HostileFile, MissingTemporaryFolderStopsTheConversionWithAMessage)
{
    WriteBytes(Name(), SimpleWave(2, 22050, 16, Bytes(8, 0)));
    const std::string missing = (tmp.Folder().Path() / "gone").string();
    ::setenv("TMPDIR", missing.c_str(), 1);
    EXPECT_FALSE(Read(Name()));
    EXPECT_EQ(messages.Texts,
              std::vector<std::string>{"The temporary folder " + missing + " is full or not writable: " + Name() +
                                       " cannot be converted."});
    EXPECT_EQ(byteCount, -77);
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

TEST_F(HostileFile, TheReportSaysHowTheReadEnded)
{
    const std::string missingFolder = (tmp.Folder().Path() / "gone").string();
    const struct {
        const char *Name;
        Bytes File; // empty: no file at all
        bool TemporaryFolderGone;
        ReadWaveResult Result;
        bool Converted;
    } cases[] = {
        {"voice format", SimpleWave(1, 22050, 16, Samples16({1, 2})), false, ReadWaveResult::Read, false},
        {"11025 Hz", SimpleWave(1, 11025, 16, Samples16({1, 2})), false, ReadWaveResult::Read, true},
        {"8-bit stereo", SimpleWave(2, 22050, 8, Bytes{1, 2, 3, 4}), false, ReadWaveResult::Read, true},
        {"missing", {}, false, ReadWaveResult::Missing, false},
        {"garbage", Bytes(64, 'x'), false, ReadWaveResult::Rejected, false},
        // Beyond the twelve layouts: converted through the sound-file reader.
        {"48 kHz", SimpleWave(1, 48000, 16, Samples16({1, 2, 3, 4})), false, ReadWaveResult::Read, true},
        {"not a WAVE file", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'X'}, false, ReadWaveResult::Rejected,
         false},
        {"no temporary folder", SimpleWave(2, 22050, 16, Samples16({1, 2})), true, ReadWaveResult::NoTemporary, false},
    };
    const std::string kept = ::getenv("TMPDIR");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::error_code ignored;
        fs::remove(Name(), ignored);
        if (!c.File.empty())
            WriteBytes(Name(), c.File);
        ::setenv("TMPDIR", c.TemporaryFolderGone ? missingFolder.c_str() : kept.c_str(), 1);
        ReadWaveReport report;
        report.Result = ReadWaveResult::NoMemory; // overwritten by every read
        report.Converted = !c.Converted;
        ReadWaveHooks hooks;
        hooks.Report = &report;
        const auto samples = Read(Name(), hooks);
        EXPECT_EQ(samples != nullptr, c.Result == ReadWaveResult::Read);
        EXPECT_EQ(report.Result, c.Result);
        EXPECT_EQ(report.Converted, c.Converted);
        EXPECT_EQ(messages.Texts.empty(), c.Result == ReadWaveResult::Read || c.Result == ReadWaveResult::Missing);
    }
    ::setenv("TMPDIR", kept.c_str(), 1);
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitizer = true;
#else
constexpr bool AddressSanitizer = false;
#endif

TEST_F(HostileFile, SampleBlockThatCannotBeAllocatedGivesTheMessage)
{
    if (AddressSanitizer)
        GTEST_SKIP() << "the sanitizer's allocator does not throw std::bad_alloc";
    const Bytes header = HeaderClaiming(1, 22050, 16, 256u << 20);
    MakeSparseFile(Name(), header, header.size() + (256ull << 20));
    std::unique_ptr<int16_t[]> samples;
    {
        AddressSpaceLimit limit(64ull << 20);
        samples = Read(Name());
    }
    EXPECT_FALSE(samples);
    EXPECT_EQ(messages.Texts, std::vector<std::string>{"Cannot allocate buffer for audio data, Terminating..."});
    EXPECT_EQ(byteCount, -77);
}

TEST_F(HostileFile, ConversionStageThatCannotGetMemoryStopsCleanly)
{
    if (AddressSanitizer)
        GTEST_SKIP() << "the sanitizer's allocator does not throw std::bad_alloc";
    // 40 MiB of 8-bit samples fit; the 80 MiB of the widened copy do not.
    const Bytes header = HeaderClaiming(1, 22050, 8, 40u << 20);
    MakeSparseFile(Name(), header, header.size() + (40ull << 20));
    std::unique_ptr<int16_t[]> samples;
    {
        AddressSpaceLimit limit(64ull << 20);
        samples = Read(Name());
    }
    EXPECT_FALSE(samples);
    EXPECT_EQ(messages.Texts, std::vector<std::string>{"Unable to allocate memory"});
    EXPECT_EQ(byteCount, -77);
    EXPECT_TRUE(tmp.Folder().Entries().empty());
}

} // namespace
