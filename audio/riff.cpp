#include "audio/riff.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

uint32_t LittleEndian32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool IsFormChunk(uint32_t id)
{
    return id == RiffChunkId || id == ListChunkId;
}

} // namespace

uint64_t RiffReader::Limit(const RiffChunk *parent) const
{
    if (!parent)
        return fileSize;
    return std::min(parent->End(), fileSize);
}

bool RiffReader::Descend(RiffChunk &chunk, const RiffChunk *parent, uint32_t id, uint32_t formType)
{
    const uint64_t limit = Limit(parent);
    const uint64_t start = parent ? parent->DataOffset : 0;
    if (position < start)
        position = start;

    // Every pass moves position forward by at least the eight header bytes,
    // and position never exceeds limit + 2^32 + 9, so the loop ends.
    while (position <= limit && limit - position >= 8) {
        uint8_t header[8];
        if (Read(header, sizeof header) != sizeof header)
            return false;
        RiffChunk found;
        found.Id = LittleEndian32(header);
        found.Size = LittleEndian32(header + 4);
        found.DataOffset = position;

        if (found.Id == id) {
            if (!IsFormChunk(id)) {
                chunk = found;
                return true;
            }
            // The form type has to lie inside the chunk and inside the file.
            uint8_t form[4];
            if (found.Size >= 4 && Read(form, sizeof form) == sizeof form && LittleEndian32(form) == formType) {
                found.FormType = formType;
                chunk = found;
                return true;
            }
        }
        if (found.Next() > limit)
            return false;
        position = found.Next();
    }
    return false;
}

std::size_t RiffReader::Read(void *buffer, std::size_t count)
{
    auto *out = static_cast<uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < count) {
        // Large reads go in pieces the kernel accepts whole.
        const std::size_t piece = std::min<std::size_t>(count - done, std::size_t{1} << 30);
        const ssize_t got = ::pread(fd, out + done, piece, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
        position += static_cast<uint64_t>(got);
    }
    return done;
}
