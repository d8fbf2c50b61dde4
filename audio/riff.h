// A small, careful reader for RIFF files.
//
// A chunk is a four-character id, a little-endian 32-bit size and that many
// data bytes, followed by a zero pad byte when the size is odd:
//
//   +------+------+---------------------+-----+
//   |  id  | size | data (size bytes)   | pad |   RIFF/LIST: data starts
//   +------+------+---------------------+-----+   with a four-character form type
//
// Positions are kept in 64 bits and every search stays inside its parent
// chunk (a parent that claims more than the file holds ends where the file
// ends), so no size found in a file can make the reader wrap, read past the
// end or search for ever: each step of a search moves forward by at least
// one chunk header.
#pragma once

#include <cstddef>
#include <cstdint>

// The id of a chunk as it reads in the file: FourCC("fmt ").
constexpr uint32_t FourCC(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

inline constexpr uint32_t RiffChunkId = FourCC("RIFF");
inline constexpr uint32_t ListChunkId = FourCC("LIST");

struct RiffChunk {
    uint32_t Id = 0;
    uint32_t Size = 0;       // as claimed by the file
    uint64_t DataOffset = 0; // first byte after the eight-byte header
    uint32_t FormType = 0;   // RIFF and LIST chunks only

    // Where the chunk's data ends as claimed (without the pad byte).
    uint64_t End() const { return DataOffset + Size; }
    // Where the next chunk starts as claimed.
    uint64_t Next() const { return End() + (Size & 1u); }
};

// Reads chunks from an open file descriptor (not owned) of fileSize bytes.
class RiffReader {
public:
    RiffReader(int fd, uint64_t fileSize) : fd(fd), fileSize(fileSize) {}

    uint64_t Position() const { return position; }
    void Seek(uint64_t offset) { position = offset; }
    uint64_t FileSize() const { return fileSize; }

    // End of the room inside parent (the whole file when parent is null),
    // never past the end of the file.
    uint64_t Limit(const RiffChunk *parent) const;

    // Searches from the current position, chunk by chunk, for a chunk with
    // this id inside parent (the whole file when null). For "RIFF" and
    // "LIST" the form type must match too, and the search leaves the
    // position after the form type; otherwise at the chunk's data. A chunk
    // header that does not fit inside the parent, or a chunk to be skipped
    // that runs past it, ends the search: false, position unspecified.
    bool Descend(RiffChunk &chunk, const RiffChunk *parent, uint32_t id, uint32_t formType = 0);

    // Moves to the first byte after chunk, honouring the pad byte.
    void Ascend(const RiffChunk &chunk) { position = chunk.Next(); }

    // Reads up to count bytes at the current position and moves past them.
    // Returns the number of bytes read: fewer at the end of the file or on
    // a read error.
    std::size_t Read(void *buffer, std::size_t count);

private:
    int fd;
    uint64_t fileSize;
    uint64_t position = 0;
};
