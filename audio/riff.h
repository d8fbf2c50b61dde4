// SPDX-License-Identifier: GPL-3.0-or-later
// A small, careful reader for RIFF files.
//
// A chunk is a four-character id, a little-endian 32-bit size and that many
// data bytes, followed by a zero pad byte when the size is odd:
//
//   +------+------+---------------------+-----+
//   |  id  | size | data (size bytes)   | pad |   RIFF/LIST: data starts
//   +------+------+---------------------+-----+   with a four-character form type
//
// Positions are kept in 64 bits and every walk stays inside its parent
// chunk (a parent that claims more than the file holds ends where the file
// ends), so no size found in a file can make the reader wrap, read past the
// end or search for ever. A walk over a parent's chunks ends at the first of:
//
//   - no room for another eight-byte header inside the parent;
//   - a header whose id is four zero bytes: no chunk has that id, and it is
//     what a file of zeros, or the unwritten tail of one, reads as;
//   - a chunk that runs past the end of its parent or of the file (the
//     chunk itself is still seen, so a data chunk cut short gives what is
//     there).
//
// Stepping over a zero id eight bytes at a time would take 33 million reads
// on 256 MiB of zeros; ending there costs one. Headers come out of a 4 KiB
// buffer, so a walk over many small chunks costs one read per 4 KiB.
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
    RiffReader(const RiffReader &) = delete;
    RiffReader &operator=(const RiffReader &) = delete;

    uint64_t Position() const { return position; }
    void Seek(uint64_t offset) { position = offset; }
    uint64_t FileSize() const { return fileSize; }

    // End of the room inside parent (the whole file when parent is null),
    // never past the end of the file.
    uint64_t Limit(const RiffChunk *parent) const;

    // One step of a walk over parent's chunks (the whole file's when null):
    // reads the header at the current position (at the parent's data when
    // the position lies before it) into chunk and moves to the chunk's
    // data. Ascend(chunk) then moves to the next one; after a chunk that
    // runs past the parent, the next step ends the walk. False, with chunk
    // untouched and the position unspecified, when the walk ends here (see
    // the top of this file).
    bool NextChunk(RiffChunk &chunk, const RiffChunk *parent);

    // For a RIFF or LIST chunk whose header NextChunk just read: true, with
    // chunk.FormType set and the position after the form type, when the
    // chunk's first four bytes lie inside it and in the file and equal
    // formType. False otherwise, position unspecified.
    bool MatchFormType(RiffChunk &chunk, uint32_t formType);

    // Walks from the current position to the first chunk with this id
    // inside parent (the whole file when null). For "RIFF" and "LIST" the
    // form type must match too, and the position is left after the form
    // type; otherwise at the chunk's data. False, position unspecified,
    // when the walk ends first.
    bool Descend(RiffChunk &chunk, const RiffChunk *parent, uint32_t id, uint32_t formType = 0);

    // Moves to the first byte after chunk, honouring the pad byte.
    void Ascend(const RiffChunk &chunk) { position = chunk.Next(); }

    // Reads up to count bytes at the current position and moves past them.
    // Returns the number of bytes read: fewer at the end of the file (as
    // measured when the reader was made) or on a read error.
    std::size_t Read(void *buffer, std::size_t count);

private:
    static constexpr std::size_t BufferBytes = 4096;

    // Reads up to count bytes at offset straight from the file.
    std::size_t Fetch(void *out, std::size_t count, uint64_t offset);

    int fd;
    uint64_t fileSize;
    uint64_t position = 0;
    // buffer holds bufferLength bytes of the file from bufferStart.
    uint8_t buffer[BufferBytes];
    uint64_t bufferStart = 0;
    std::size_t bufferLength = 0;
};
