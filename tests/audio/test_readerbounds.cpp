// SPDX-License-Identifier: GPL-3.0-or-later
// What reading costs on files made to drive a reader into long walks, big
// allocations or a second close: counted in read calls and bytes
// (/proc/self/io), never timed.
#include "audio/soundfile.h"
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using namespace wavetesting;

namespace {

constexpr uint64_t GiB = 1ull << 30;

// Writes header and makes the file total bytes long without writing the
// rest: the filesystem keeps the zeros as a hole.
void MakeSparse(const std::string &name, const Bytes &header, uint64_t total)
{
    WriteBytes(name, header);
    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(total)), 0);
}

// This process's read calls and bytes read so far.
struct IoCount {
    uint64_t Bytes = 0;
    uint64_t Calls = 0;
};
IoCount ReadSoFar()
{
    std::ifstream in("/proc/self/io");
    IoCount count;
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value) {
        if (key == "rchar:")
            count.Bytes = value;
        if (key == "syscr:")
            count.Calls = value;
    }
    return count;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitizer = true;
#else
constexpr bool AddressSanitizer = false;
#endif

Bytes RecordPattern(std::size_t size = 514)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + 1);
    return bytes;
}

const Bytes Fmt16 = Chunk("fmt ", Format(1, 22050, 16));

class ReaderBounds : public ::testing::Test {
protected:
    std::unique_ptr<int16_t[]> Read(const Bytes &file, uint64_t sparseTotal = 0)
    {
        if (sparseTotal)
            MakeSparse(Name(), file, sparseTotal);
        else
            WriteBytes(Name(), file);
        messages.Texts.clear();
        byteCount = -77;
        record = {};
        return ReadWaveFile(Name(), 22050, 16, 1, byteCount, record, messages);
    }
    std::string Name() const { return folder.File("in.wav"); }

    TempFolder folder;
    PrivateTmpDir tmp;
    RecordingSink messages;
    int32_t byteCount = -77;
    TEffectSettings record;
};

TEST_F(ReaderBounds, ZerosSparseTailsAndRunsOfTinyChunksCostFewReads)
{
    Bytes bigData = RiffWave({Fmt16}, 0xFFFFFFFF);
    AppendId(bigData, "data");
    Append32(bigData, 0x80000000u); // more than a voice holds
    std::vector<Bytes> tiny{Fmt16};
    for (int i = 0; i < 200000; ++i)
        tiny.push_back(Chunk("JUNK", {}));
    tiny.push_back(Chunk("data", Samples16({7})));
    const struct {
        const char *Name;
        Bytes File;
        uint64_t Sparse;               // the file's length, its tail a hole; 0: the bytes alone
        std::vector<int16_t> Expected; // empty: refused
        uint64_t MostCalls;
    } cases[] = {
        {"256 MiB of zeros", {}, 256ull << 20, {}, 20},
        {"a voice followed by 2 GiB of zeros",
         RiffWave({Fmt16, Chunk("data", Samples16({3, -3, 5}))}, 0xFFFFFFFF),
         2 * GiB,
         {3, -3, 5},
         20},
        {"a 2 GiB data chunk, then zeros", bigData, 4 * GiB, {}, 20},
        // 1.6 MB of headers, read 4 KiB at a time: not a call per chunk.
        {"200000 empty chunks", RiffWave(tiny), 0, {7}, 1000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const IoCount before = ReadSoFar();
        const auto samples = Read(c.File, c.Sparse);
        const IoCount after = ReadSoFar();
        ASSERT_EQ(samples != nullptr, !c.Expected.empty()) << (messages.Texts.empty() ? "" : messages.Texts[0]);
        if (samples) {
            EXPECT_EQ(ToSamples(samples.get(), byteCount), c.Expected);
        }
        EXPECT_LT(after.Calls - before.Calls, c.MostCalls);
        EXPECT_LT(after.Bytes - before.Bytes, c.Sparse ? 65536u : c.File.size() + 65536u);
    }
}

TEST_F(ReaderBounds, OneWalkFindsSettingsAndDataInTheirOrder)
{
    const Bytes a = Chunk("data", Samples16({1, 2}));
    const Bytes b = Chunk("data", Samples16({3, 4}));
    const Bytes settings = Chunk("qmbl", RecordPattern());
    const Bytes shortSettings = Chunk("qmbl", RecordPattern(100));
    const struct {
        const char *Name;
        std::vector<Bytes> Chunks;
        std::vector<int16_t> Expected; // empty: rejected
        bool SettingsRead;
    } cases[] = {
        {"qmbl, data", {Fmt16, settings, a}, {1, 2}, true},
        {"data, qmbl: no data after the settings", {Fmt16, a, settings}, {}, false},
        {"data, qmbl, data", {Fmt16, a, settings, b}, {3, 4}, true},
        {"data, short qmbl, data", {Fmt16, a, shortSettings, b}, {3, 4}, false},
        {"short qmbl, qmbl, data: the first qmbl counts", {Fmt16, shortSettings, settings, a}, {1, 2}, false},
        {"two data chunks", {Fmt16, a, b}, {1, 2}, false},
        {"zeros before data", {Fmt16, Bytes(8, 0), a}, {}, false},
        {"zeros after data end the walk", {Fmt16, a, Bytes(8, 0), settings}, {1, 2}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const auto samples = Read(RiffWave(c.Chunks));
        ASSERT_EQ(samples != nullptr, !c.Expected.empty());
        if (samples) {
            EXPECT_EQ(ToSamples(samples.get(), byteCount), c.Expected);
        }
        EXPECT_EQ(record == TEffectSettings::FromBytes(RecordPattern().data()), c.SettingsRead);
    }
}

TEST_F(ReaderBounds, EightBitStereoConvertsInPlaceWithinTwiceItsSize)
{
    if (AddressSanitizer)
        GTEST_SKIP() << "the sanitizer's allocator does not throw std::bad_alloc";
    // 48 MiB of 8-bit stereo at 44100 Hz: widening needs 96 MiB, a new
    // block per stage beside the old one 144 MiB.
    const uint32_t bytes = 48u << 20;
    Bytes header = RiffWave({Chunk("fmt ", Format(2, 44100, 8))}, 4 + 24 + 8 + bytes);
    AppendId(header, "data");
    Append32(header, bytes);
    MakeSparse(Name(), header, header.size() + bytes);
    std::unique_ptr<int16_t[]> samples;
    {
        AddressSpaceLimit limit(112ull << 20);
        samples = ReadWaveFile(Name(), 22050, 16, 1, byteCount, record, messages);
    }
    ASSERT_TRUE(samples) << (messages.Texts.empty() ? "" : messages.Texts[0]);
    ASSERT_EQ(byteCount, static_cast<int32_t>(bytes / 2));
    EXPECT_EQ(samples[0], -32768);
    EXPECT_EQ(samples[bytes / 4 - 1], -32768);
}

// A sink that opens a descriptor as it shows the message, as a window
// might: it gets the lowest free number, the one the reader just gave up.
class DescriptorSink : public RecordingSink {
public:
    void ShowMessage(const std::string &text, const std::string &caption) override
    {
        RecordingSink::ShowMessage(text, caption);
        Opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    int Opened = -1;
};

TEST_F(ReaderBounds, AFileLibsndfileCannotOpenIsClosedOnce)
{
    Bytes junk(100);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(i * 37 + 11);
    WriteBytes(Name(), junk);
    DescriptorSink sink;
    EXPECT_FALSE(ReadSoundFile(Name(), byteCount, record, sink));
    ASSERT_EQ(sink.Texts, std::vector<std::string>{"Incompatible file format of: " + Name()});
    ASSERT_GE(sink.Opened, 0);
    EXPECT_NE(::fcntl(sink.Opened, F_GETFD), -1) << "the sink's descriptor was closed by the reader";
    ::close(sink.Opened);
}

TEST_F(ReaderBounds, RatesOutsideThousandTo768000HzAreRefusedNamingTheRate)
{
    for (const uint32_t rate : {1u, 999u, 1000u, 768000u, 768001u}) {
        SCOPED_TRACE(rate);
        const bool inRange = rate >= 1000 && rate <= 768000;
        const auto samples = Read(SimpleWave(1, rate, 16, Samples16(std::vector<int16_t>(1000, 1000))));
        EXPECT_EQ(samples != nullptr, inRange);
        EXPECT_EQ(messages.Texts,
                  inRange ? std::vector<std::string>{}
                          : std::vector<std::string>{"Cannot open " + Name() + ": its sample rate of " +
                                                     std::to_string(rate) +
                                                     " Hz is outside the 1000 to 768000 Hz the program reads."});
    }
    // 100 million frames at 1000 Hz make 2.2 billion voice samples: refused
    // from the header, without reading the samples or reserving room.
    Bytes header = RiffWave({Chunk("fmt ", Format(1, 1000, 16))}, 4 + 24 + 8 + 200000000);
    AppendId(header, "data");
    Append32(header, 200000000u);
    MakeSparse(Name(), header, header.size() + 200000000u);
    messages.Texts.clear();
    const IoCount before = ReadSoFar();
    std::unique_ptr<int16_t[]> samples;
    {
        std::optional<AddressSpaceLimit> limit;
        if (!AddressSanitizer)
            limit.emplace(256ull << 20);
        samples = ReadWaveFile(Name(), 22050, 16, 1, byteCount, record, messages);
    }
    EXPECT_FALSE(samples);
    EXPECT_EQ(messages.Texts, std::vector<std::string>{TooLongText(Name())});
    EXPECT_LT(ReadSoFar().Bytes - before.Bytes, 65536u);
}

} // namespace
