// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/dib_layout.h"
#include "engine/writers/single_page_writer.h"

#include <limits>
#include <optional>

namespace rastool {
namespace {

constexpr uint64_t kFileHeaderBytes = 14;

class BmpWriter : public SinglePageWriter {
public:
    explicit BmpWriter(std::FILE *out) : SinglePageWriter(out, "BMP", {1, 4, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        dib_.emplace(format);
        bitsOffset_ = kFileHeaderBytes + dib_->InfoBytes();
        const uint64_t fileBytes = bitsOffset_ + dib_->BitsBytes();
        if (fileBytes > std::numeric_limits<uint32_t>::max()) {
            Refuse("the page is too large for the format's 4 GB limit");
        }
        ByteBuffer header;
        header.U8('B');
        header.U8('M');
        header.U32Le(static_cast<uint32_t>(fileBytes));
        header.U32Le(0); // reserved
        header.U32Le(static_cast<uint32_t>(bitsOffset_));
        Sink().Write(header);
        Sink().Write(dib_->Info());
    }

    void PutRows(const uint8_t *rows, int firstRow, int rowCount, std::ptrdiff_t stride) override
    {
        if (!dib_->PutRows(Sink(), bitsOffset_, rows, firstRow, rowCount, stride)) {
            Refuse("a palette index does not fit the colour depth");
        }
    }

    std::optional<DibLayout> dib_;
    uint64_t bitsOffset_ = 0;
};

} // namespace

std::unique_ptr<ImageWriter> MakeBmpWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<BmpWriter>(out);
}

} // namespace rastool
