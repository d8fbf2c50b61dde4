// What reading costs on files made to drive a reader into long walks, big
// allocations or a second close: counted in chunk steps, read calls and
// bytes (RiffReader's counters and /proc/self/io), never timed.
#include "audio/riff.h"
#include "audio/soundfile.h"
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

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

// Caps the address space at what the process uses now plus headroom, so a
// larger allocation throws std::bad_alloc (not under AddressSanitizer).
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(uint64_t headroom)
    {
        ::getrlimit(RLIMIT_AS, &old);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit lowered = old;
        lowered.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
        ::setrlimit(RLIMIT_AS, &lowered);
    }
    ~AddressSpaceLimit() { ::setrlimit(RLIMIT_AS, &old); }

private:
    rlimit old{};
};

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

// The ids a walk over parent's chunks visits, a run of one id as
// "id*count"; the children of a RIFF "WAVE" chunk follow it in brackets.
std::string Walk(RiffReader &riff, RiffChunk *parent = nullptr)
{
    std::vector<std::pair<std::string, int>> runs;
    RiffChunk chunk;
    while (riff.NextChunk(chunk, parent)) {
        std::string id(reinterpret_cast<const char *>(&chunk.Id), 4);
        id.erase(id.find_last_not_of(' ') + 1);
        if (!parent && chunk.Id == RiffChunkId && riff.MatchFormType(chunk, FourCC("WAVE")))
            id += "[" + Walk(riff, &chunk) + "]";
        if (!runs.empty() && runs.back().first == id)
            ++runs.back().second;
        else
            runs.emplace_back(id, 1);
        riff.Ascend(chunk);
    }
    std::string text;
    for (const auto &[id, count] : runs)
        text += (text.empty() ? "" : " ") + id + (count > 1 ? "*" + std::to_string(count) : "");
    return text;
}

TEST(RiffWalk, EndsAtZerosAndAtSizesPastTheParentAfterFewReads)
{
    TempFolder folder;
    const std::string name = folder.File("walk.wav");
    Bytes bigData = RiffWave({Fmt16}, 0xFFFFFFFF);
    AppendId(bigData, "data");
    Append32(bigData, 0x80000000u);
    std::vector<Bytes> tiny{Fmt16};
    for (int i = 0; i < 200000; ++i)
        tiny.push_back(Chunk("JUNK", {}));
    tiny.push_back(Chunk("data", Samples16({1})));
    const struct {
        const char *Name;
        Bytes File;
        uint64_t Total; // sparse length; 0: the bytes alone
        std::string Visited;
        uint64_t Steps;
        uint64_t MostFetches;
    } cases[] = {
        {"4 GiB of zeros", {}, 4 * GiB, "", 1, 1},
        {"2 GiB data chunk, then zeros", bigData, 4 * GiB, "RIFF[fmt data]", 4, 2},
        {"zero id before data", RiffWave({Fmt16, Bytes(8, 0), Chunk("data", Samples16({1}))}), 0, "RIFF[fmt]", 3, 1},
        {"zero id after data", RiffWave({Fmt16, Chunk("data", {}), Bytes(8, 0), Chunk("qmbl", {})}), 0,
         "RIFF[fmt data]", 4, 1},
        {"data then qmbl", RiffWave({Fmt16, Chunk("data", {}), Chunk("qmbl", {})}), 0, "RIFF[fmt data qmbl]", 4, 1},
        {"size past the parent", RiffWave({Fmt16, Chunk("LIST", Bytes(4, 0), 1000), Chunk("data", {})}), 0,
         "RIFF[fmt LIST]", 3, 1},
        {"200000 empty chunks", RiffWave(tiny), 0, "RIFF[fmt JUNK*200000 data]", 200003, 1600008 / 4096 + 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Total)
            MakeSparse(name, c.File, c.Total);
        else
            WriteBytes(name, c.File);
        const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        RiffReader riff(fd, c.Total ? c.Total : c.File.size());
        EXPECT_EQ(Walk(riff), c.Visited);
        EXPECT_EQ(riff.Steps(), c.Steps);
        EXPECT_LE(riff.Fetches(), c.MostFetches);
        EXPECT_LE(riff.BytesFetched(), 4096 * c.MostFetches);
        ::close(fd);
    }
}

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

TEST_F(ReaderBounds, ZerosAndASparseTailCostAFewReads)
{
    const IoCount before = ReadSoFar();
    EXPECT_FALSE(Read({}, 256ull << 20));
    EXPECT_EQ(messages.Texts, std::vector<std::string>{"Incompatible file format of: " + Name()});
    const IoCount middle = ReadSoFar();
    EXPECT_LT(middle.Bytes - before.Bytes, 16384u);
    EXPECT_LT(middle.Calls - before.Calls, 20u);

    const auto samples = Read(RiffWave({Fmt16, Chunk("data", Samples16({3, -3, 5}))}, 0xFFFFFFFF), 2 * GiB);
    const IoCount after = ReadSoFar();
    ASSERT_TRUE(samples);
    EXPECT_EQ(ToSamples(samples.get(), byteCount), (std::vector<int16_t>{3, -3, 5}));
    EXPECT_LT(after.Bytes - middle.Bytes, 16384u);
    EXPECT_LT(after.Calls - middle.Calls, 20u);
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
