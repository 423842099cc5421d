// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/byte_sink.h"

#include "engine/writers/image_writer.h"

#include <cerrno>
#include <cstring>
#include <limits>

namespace rastool {

void ByteBuffer::U16Le(uint32_t v)
{
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
}

void ByteBuffer::U32Le(uint32_t v)
{
    U16Le(v & 0xFFFF);
    U16Le(v >> 16);
}

void ByteBuffer::U16Be(uint32_t v)
{
    U8((v >> 8) & 0xFF);
    U8(v & 0xFF);
}

void ByteBuffer::U32Be(uint32_t v)
{
    U16Be(v >> 16);
    U16Be(v & 0xFFFF);
}

ByteSink::ByteSink(std::FILE *file, std::string formatName)
    : file_(file), formatName_(std::move(formatName))
{
}

void ByteSink::Fail(const std::string &what) const
{
    const int error = errno;
    std::string message = "cannot " + what + " the " + formatName_ + " file";
    if (error != 0) {
        message += ": ";
        message += std::strerror(error);
    }
    throw WriteError(message);
}

void ByteSink::Write(const void *data, std::size_t count)
{
    if (count == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(data, 1, count, file_) != count) {
        Fail("write");
    }
}

void ByteSink::SeekTo(uint64_t offset)
{
    errno = 0;
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
        fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        Fail("seek in");
    }
}

uint64_t ByteSink::Position()
{
    errno = 0;
    const off_t position = ftello(file_);
    if (position < 0) {
        Fail("find the position in");
    }
    return static_cast<uint64_t>(position);
}

void ByteSink::Flush()
{
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
        Fail("write");
    }
}

} // namespace rastool
