// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/dib_layout.h"
#include "engine/writers/single_page_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace rastool {
namespace {

constexpr uint32_t kRecordHeader = 1;
constexpr uint32_t kRecordStretchDiBits = 81;
constexpr uint32_t kRecordEof = 14;
constexpr uint32_t kSignature = 0x464D4520;
constexpr uint32_t kHeaderBytes = 108;
constexpr uint32_t kStretchFixedBytes = 80;
constexpr uint32_t kEofBytes = 20;
constexpr uint32_t kSrcCopy = 0x00CC0020;
// The reference device is 254 mm square with the page's resolution, so one device unit is
// one pixel of the page and the picture keeps the page's physical size.
constexpr int32_t kDeviceMillimetres = 254;

// At least one hundredth, so that the inclusive frame never ends before it starts.
int32_t Hundredths(int pixels, double dpi)
{
    return static_cast<int32_t>(std::max(1L, std::lround(pixels * 2540.0 / dpi)));
}

// An enhanced metafile holding the page as one device-independent bitmap drawn at the
// origin, pixel for pixel, on a reference device of the page's resolution.
class EmfWriter : public SinglePageWriter {
public:
    explicit EmfWriter(std::FILE *out) : SinglePageWriter(out, "EMF", {1, 4, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        dib_.emplace(format);
        const uint64_t stretchBytes = kStretchFixedBytes + dib_->InfoBytes() + dib_->BitsBytes();
        const uint64_t fileBytes = kHeaderBytes + stretchBytes + kEofBytes;
        const double deviceX = std::round(format.xDpi * 10);
        const double deviceY = std::round(format.yDpi * 10);
        if (fileBytes > std::numeric_limits<uint32_t>::max() ||
            deviceX > std::numeric_limits<int32_t>::max() ||
            deviceY > std::numeric_limits<int32_t>::max()) {
            Refuse("the page is too large for the format's 4 GB limit");
        }
        bitsOffset_ = kHeaderBytes + kStretchFixedBytes + dib_->InfoBytes();

        ByteBuffer header;
        header.U32Le(kRecordHeader);
        header.U32Le(kHeaderBytes);
        // Bounds in device units and frame in hundredths of a millimetre, both inclusive.
        header.I32Le(0);
        header.I32Le(0);
        header.I32Le(format.width - 1);
        header.I32Le(format.height - 1);
        header.I32Le(0);
        header.I32Le(0);
        header.I32Le(Hundredths(format.width, format.xDpi) - 1);
        header.I32Le(Hundredths(format.height, format.yDpi) - 1);
        header.U32Le(kSignature);
        header.U32Le(0x10000); // version
        header.U32Le(static_cast<uint32_t>(fileBytes));
        header.U32Le(3); // records
        header.U16Le(1); // handles: only the reserved one
        header.U16Le(0); // reserved
        header.U32Le(0); // no description
        header.U32Le(0);
        header.U32Le(0); // no palette entries
        header.I32Le(static_cast<int32_t>(deviceX));
        header.I32Le(static_cast<int32_t>(deviceY));
        header.I32Le(kDeviceMillimetres);
        header.I32Le(kDeviceMillimetres);
        header.U32Le(0); // no pixel format
        header.U32Le(0);
        header.U32Le(0); // no OpenGL records
        header.I32Le(kDeviceMillimetres * 1000);
        header.I32Le(kDeviceMillimetres * 1000);

        header.U32Le(kRecordStretchDiBits);
        header.U32Le(static_cast<uint32_t>(stretchBytes));
        header.I32Le(0);
        header.I32Le(0);
        header.I32Le(format.width - 1);
        header.I32Le(format.height - 1);
        header.I32Le(0); // destination x, y
        header.I32Le(0);
        header.I32Le(0); // source x, y
        header.I32Le(0);
        header.I32Le(format.width);
        header.I32Le(format.height);
        header.U32Le(kStretchFixedBytes);
        header.U32Le(static_cast<uint32_t>(dib_->InfoBytes()));
        header.U32Le(static_cast<uint32_t>(kStretchFixedBytes + dib_->InfoBytes()));
        header.U32Le(static_cast<uint32_t>(dib_->BitsBytes()));
        header.U32Le(0); // colour table holds RGB values
        header.U32Le(kSrcCopy);
        header.I32Le(format.width);
        header.I32Le(format.height);
        Sink().Write(header);
        Sink().Write(dib_->Info());
    }

    void PutRows(const uint8_t *rows, int firstRow, int rowCount, std::ptrdiff_t stride) override
    {
        if (!dib_->PutRows(Sink(), bitsOffset_, rows, firstRow, rowCount, stride)) {
            Refuse("a palette index does not fit the colour depth");
        }
    }

    void FinishImage() override
    {
        ByteBuffer eof;
        eof.U32Le(kRecordEof);
        eof.U32Le(kEofBytes);
        eof.U32Le(0);  // no palette
        eof.U32Le(16); // where a palette would start
        eof.U32Le(kEofBytes);
        Sink().SeekTo(bitsOffset_ + dib_->BitsBytes());
        Sink().Write(eof);
    }

    std::optional<DibLayout> dib_;
    uint64_t bitsOffset_ = 0;
};

} // namespace

std::unique_ptr<ImageWriter> MakeEmfWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<EmfWriter>(out);
}

} // namespace rastool
