// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rastool {

// Header bytes assembled in memory, in the byte order each field asks for.
class ByteBuffer {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16Le(uint32_t v);
    void U32Le(uint32_t v);
    void I16Le(int32_t v) { U16Le(static_cast<uint16_t>(v)); }
    void I32Le(int32_t v) { U32Le(static_cast<uint32_t>(v)); }
    void U16Be(uint32_t v);
    void U32Be(uint32_t v);
    void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void Append(const uint8_t *data, std::size_t count)
    {
        bytes_.insert(bytes_.end(), data, data + count);
    }
    const uint8_t *Data() const { return bytes_.data(); }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

// An open FILE* whose every write, seek and flush is checked: a failure (disk full, a stream
// that cannot seek) throws WriteError naming the format and the system's reason.
class ByteSink {
public:
    ByteSink(std::FILE *file, std::string formatName);

    void Write(const void *data, std::size_t count);
    void Write(const ByteBuffer &buffer) { Write(buffer.Data(), buffer.Size()); }
    void SeekTo(uint64_t offset);
    uint64_t Position();
    void Flush();
    [[noreturn]] void Fail(const std::string &what) const;

private:
    std::FILE *file_;
    std::string formatName_;
};

} // namespace rastool
