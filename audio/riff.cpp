// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/riff.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

bool RiffReader::NextChunk(RiffChunk &chunk, const RiffChunk *parent)
{
    const uint64_t limit = Limit(parent);
    const uint64_t start = parent ? parent->DataOffset : 0;
    if (position < start)
        position = start;
    // A caller that ascends past a chunk moves forward by at least the
    // eight header bytes, and position never exceeds limit + 2^32 + 9, so
    // a walk ends.
    if (position > limit || limit - position < 8)
        return false;
    uint8_t header[8];
    if (Read(header, sizeof header) != sizeof header)
        return false;
    const uint32_t id = LittleEndian32(header);
    if (id == 0)
        return false;
    chunk = {};
    chunk.Id = id;
    chunk.Size = LittleEndian32(header + 4);
    chunk.DataOffset = position;
    return true;
}

bool RiffReader::MatchFormType(RiffChunk &chunk, uint32_t formType)
{
    uint8_t form[4];
    position = chunk.DataOffset;
    if (chunk.Size < 4 || Read(form, sizeof form) != sizeof form || LittleEndian32(form) != formType)
        return false;
    chunk.FormType = formType;
    return true;
}

bool RiffReader::Descend(RiffChunk &chunk, const RiffChunk *parent, uint32_t id, uint32_t formType)
{
    RiffChunk found;
    while (NextChunk(found, parent)) {
        if (found.Id == id && (!IsFormChunk(id) || MatchFormType(found, formType))) {
            chunk = found;
            return true;
        }
        Ascend(found);
    }
    return false;
}

std::size_t RiffReader::Fetch(void *out, std::size_t count, uint64_t offset)
{
    auto *bytes = static_cast<uint8_t *>(out);
    std::size_t done = 0;
    while (done < count) {
        // Large reads go in pieces the kernel accepts whole.
        const std::size_t piece = std::min<std::size_t>(count - done, std::size_t{1} << 30);
        const ssize_t got = ::pread(fd, bytes + done, piece, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t RiffReader::Read(void *out, std::size_t count)
{
    const uint64_t room = position < fileSize ? fileSize - position : 0;
    count = static_cast<std::size_t>(std::min<uint64_t>(count, room));
    if (count == 0)
        return 0;
    std::size_t done = 0;
    if (count > BufferBytes) {
        // Samples and other large reads go straight to the caller.
        done = Fetch(out, count, position);
    } else {
        // Headers and records come out of the buffer, filled afresh at the
        // position when it does not hold them all.
        if (position < bufferStart || position + count > bufferStart + bufferLength) {
            bufferStart = position;
            bufferLength = Fetch(buffer, static_cast<std::size_t>(std::min<uint64_t>(BufferBytes, room)), position);
        }
        // Either way the buffer now starts at or before the position.
        done = static_cast<std::size_t>(std::min<uint64_t>(count, bufferStart + bufferLength - position));
        std::memcpy(out, buffer + (position - bufferStart), done);
    }
    position += done;
    return done;
}
