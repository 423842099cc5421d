// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/dib_layout.h"
#include "engine/writers/single_page_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace rastool {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint64_t kPlaceableBytes = 22;
constexpr uint64_t kHeaderBytes = 18;
constexpr uint64_t kWindowRecordBytes = 10;
constexpr uint64_t kStretchFixedBytes = 28;
constexpr uint64_t kEofBytes = 6;
constexpr uint32_t kSetWindowOrg = 0x020B;
constexpr uint32_t kSetWindowExt = 0x020C;
constexpr uint32_t kStretchDib = 0x0F43;
constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr int kMaxCoordinate = 0x7FFF;

// Logical units of the picture: `unitsPerInch` for the placeable header and the page's extent
// in those units. Coordinates are 16-bit; within that the units are as fine as the header
// allows, so a reader that counts the bounding box one unit larger changes the size by a
// negligible amount. At one integral resolution the units are a whole multiple of it, so each
// pixel spans a whole number of units.
struct PictureUnits {
    int unitsPerInch;
    int width;
    int height;
};

PictureUnits ChooseUnits(const PageFormat &format)
{
    const double widthInches = format.width / format.xDpi;
    const double heightInches = format.height / format.yDpi;
    double units =
        std::floor(std::min(65535.0, kMaxCoordinate / std::max(widthInches, heightInches)));
    if (format.xDpi == format.yDpi && format.xDpi == std::round(format.xDpi) &&
        units >= format.xDpi) {
        units = std::floor(units / format.xDpi) * format.xDpi;
    }
    units = std::max(units, 1.0);
    auto extent = [units](double inches) {
        return static_cast<int>(std::clamp(std::round(inches * units), 1.0, 1.0 * kMaxCoordinate));
    };
    return {static_cast<int>(units), extent(widthInches), extent(heightInches)};
}

// A placeable Windows metafile holding the page as one device-independent bitmap stretched
// over the whole picture; the placeable header's units per inch give the physical size.
class WmfWriter : public SinglePageWriter {
public:
    explicit WmfWriter(std::FILE *out) : SinglePageWriter(out, "WMF", {1, 4, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        if (format.width > kMaxCoordinate || format.height > kMaxCoordinate) {
            Refuse("the page is larger than the format's 32767-pixel limit");
        }
        dib_.emplace(format);
        const uint64_t stretchBytes = kStretchFixedBytes + dib_->InfoBytes() + dib_->BitsBytes();
        const uint64_t metafileBytes =
            kHeaderBytes + 2 * kWindowRecordBytes + stretchBytes + kEofBytes;
        if (metafileBytes / 2 > std::numeric_limits<uint32_t>::max()) {
            Refuse("the page is too large for the format's 8 GB limit");
        }
        bitsOffset_ = kPlaceableBytes + kHeaderBytes + 2 * kWindowRecordBytes + kStretchFixedBytes +
                      dib_->InfoBytes();
        const PictureUnits units = ChooseUnits(format);

        ByteBuffer out;
        out.U32Le(kPlaceableKey);
        out.U16Le(0); // no handle
        out.I16Le(0); // bounding box: left, top, right, bottom
        out.I16Le(0);
        out.I16Le(units.width);
        out.I16Le(units.height);
        out.U16Le(static_cast<uint32_t>(units.unitsPerInch));
        out.U32Le(0); // reserved
        uint32_t checksum = 0;
        for (std::size_t i = 0; i < 20; i += 2) {
            checksum ^= static_cast<uint32_t>(out.Data()[i] | out.Data()[i + 1] << 8);
        }
        out.U16Le(checksum);

        out.U16Le(1); // kept in a file
        out.U16Le(kHeaderBytes / 2);
        out.U16Le(0x0300); // version
        out.U32Le(static_cast<uint32_t>(metafileBytes / 2));
        out.U16Le(0); // no objects
        out.U32Le(static_cast<uint32_t>(stretchBytes / 2));
        out.U16Le(0); // unused

        out.U32Le(kWindowRecordBytes / 2);
        out.U16Le(kSetWindowOrg);
        out.I16Le(0);
        out.I16Le(0);
        out.U32Le(kWindowRecordBytes / 2);
        out.U16Le(kSetWindowExt);
        out.I16Le(units.height);
        out.I16Le(units.width);

        out.U32Le(static_cast<uint32_t>(stretchBytes / 2));
        out.U16Le(kStretchDib);
        out.U32Le(kSrcCopy);
        out.U16Le(0); // colour table holds RGB values
        out.I16Le(format.height);
        out.I16Le(format.width);
        out.I16Le(0); // source y, x
        out.I16Le(0);
        out.I16Le(units.height);
        out.I16Le(units.width);
        out.I16Le(0); // destination y, x
        out.I16Le(0);
        Sink().Write(out);
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
        eof.U32Le(kEofBytes / 2);
        eof.U16Le(0);
        Sink().SeekTo(bitsOffset_ + dib_->BitsBytes());
        Sink().Write(eof);
    }

    std::optional<DibLayout> dib_;
    uint64_t bitsOffset_ = 0;
};

} // namespace

std::unique_ptr<ImageWriter> MakeWmfWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<WmfWriter>(out);
}

} // namespace rastool
