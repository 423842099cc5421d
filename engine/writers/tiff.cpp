// SPDX-License-Identifier: AGPL-3.0-or-later
// TIFF through libtiff: 1, 4, 8-bit palette, 8-bit grey and 24-bit pages; no compression,
// PackBits, LZW, JPEG, CCITT Group 3 and Group 4, and Class F fax files. Several pages go into
// one file as a chain of directories.
#include "engine/writers/image_writer.h"
#include "engine/writers/lzw.h"
#include "render/srgb_profile.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <sys/stat.h>

namespace rastool {

namespace {

// Class F fax pages have exactly this many pixels per line.
constexpr int kFaxWidth = 1728;

// libtiff reads and writes through the caller's FILE (opened for update: linking a second
// directory reads back the first).
tmsize_t ReadProc(thandle_t h, void *data, tmsize_t size)
{
    return static_cast<tmsize_t>(
        std::fread(data, 1, static_cast<size_t>(size), static_cast<std::FILE *>(h)));
}

tmsize_t WriteProc(thandle_t h, void *data, tmsize_t size)
{
    return static_cast<tmsize_t>(
        std::fwrite(data, 1, static_cast<size_t>(size), static_cast<std::FILE *>(h)));
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence)
{
    auto *file = static_cast<std::FILE *>(h);
    if (fseeko(file, static_cast<off_t>(offset), whence) != 0) {
        return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(file));
}

int CloseProc(thandle_t)
{
    return 0; // the file belongs to the caller
}

toff_t SizeProc(thandle_t h)
{
    auto *file = static_cast<std::FILE *>(h);
    std::fflush(file);
    struct stat info {};
    return fstat(fileno(file), &info) == 0 ? static_cast<toff_t>(info.st_size) : 0;
}

int NoMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void NoUnmap(thandle_t, void *, toff_t) {}

// Keeps libtiff's error text for our exception instead of letting it print.
int KeepError(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    auto *message = static_cast<std::string *>(user);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *message = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    return 1;
}

int IgnoreWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

uint16_t CompressionTag(TiffCompression compression)
{
    switch (compression) {
    case TiffCompression::None:
        return COMPRESSION_NONE;
    case TiffCompression::PackBits:
        return COMPRESSION_PACKBITS;
    case TiffCompression::Lzw:
        return COMPRESSION_LZW;
    case TiffCompression::Jpeg:
        return COMPRESSION_JPEG;
    case TiffCompression::G3:
    case TiffCompression::ClassF:
        return COMPRESSION_CCITTFAX3;
    case TiffCompression::G4:
        return COMPRESSION_CCITTFAX4;
    }
    return COMPRESSION_NONE;
}

class TiffWriter : public ImageWriter {
public:
    TiffWriter(std::FILE *out, const WriterOptions &options) : out_(out), options_(options)
    {
        TIFFOpenOptions *open = TIFFOpenOptionsAlloc();
        if (open == nullptr) {
            throw std::bad_alloc();
        }
        TIFFOpenOptionsSetErrorHandlerExtR(open, KeepError, &error_);
        TIFFOpenOptionsSetWarningHandlerExtR(open, IgnoreWarning, nullptr);
        tif_ = TIFFClientOpenExt("output", "w", out, ReadProc, WriteProc, SeekProc, CloseProc,
                                 SizeProc, NoMap, NoUnmap, open);
        TIFFOpenOptionsFree(open);
        if (tif_ == nullptr) {
            Fail("cannot start");
        }
    }

    ~TiffWriter() override
    {
        if (tif_ != nullptr) {
            TIFFCleanup(tif_);
        }
    }

    void BeginPage(const PageFormat &format) override
    {
        if (inPage_ || tif_ == nullptr) {
            Refuse("a page began inside another page or after the end");
        }
        Check(format);
        format_ = format;
        rows_ = 0;
        inPage_ = true;
        const bool fax = options_.compression == TiffCompression::G3 ||
                         options_.compression == TiffCompression::G4 || classF();
        invert_ = fax; // fax pages store black as 1
        const int bits = format.bitsPerPixel;
        const bool rgb = bits == 24;
        bool ok =
            TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(format.width)) &&
            TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(format.height)) &&
            TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(rgb ? 8 : bits)) &&
            TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(rgb ? 3 : 1)) &&
            TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif_, TIFFTAG_COMPRESSION, CompressionTag(options_.compression)) &&
            TIFFSetField(tif_, TIFFTAG_XRESOLUTION, static_cast<float>(format.xDpi)) &&
            TIFFSetField(tif_, TIFFTAG_YRESOLUTION, static_cast<float>(format.yDpi)) &&
            TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
            TIFFSetField(tif_, TIFFTAG_SOFTWARE, "rastool");
        uint16_t photometric = PHOTOMETRIC_MINISBLACK;
        if (rgb) {
            photometric = PHOTOMETRIC_RGB;
        } else if (fax) {
            photometric = PHOTOMETRIC_MINISWHITE;
        } else if (bits != 1 && !format.greyscale) {
            photometric = PHOTOMETRIC_PALETTE;
        }
        if (options_.compression == TiffCompression::Jpeg) {
            ok = ok && TIFFSetField(tif_, TIFFTAG_JPEGQUALITY, options_.jpegQuality);
            if (rgb) {
                // Stored as YCbCr, which is what readers expect of JPEG in TIFF; libtiff
                // converts the RGB rows.
                photometric = PHOTOMETRIC_YCBCR;
                ok = ok && TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            }
        }
        ok = ok && TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, photometric);
        // Colour, palette and grey pixels are sRGB; black-and-white pages need no profile.
        if (bits > 1 && !fax) {
            const std::vector<unsigned char> &profile = photometric == PHOTOMETRIC_MINISBLACK
                                                            ? render::SrgbGreyProfile()
                                                            : render::SrgbProfile();
            ok = ok && (profile.empty() ||
                        TIFFSetField(tif_, TIFFTAG_ICCPROFILE,
                                     static_cast<uint32_t>(profile.size()), profile.data()));
        }
        if (photometric == PHOTOMETRIC_PALETTE) {
            const size_t count = size_t{1} << bits;
            std::vector<uint16_t> r(count, 0), g(count, 0), b(count, 0);
            for (size_t i = 0; i < format.palette.size() && i < count; ++i) {
                r[i] = static_cast<uint16_t>(format.palette[i].r * 257);
                g[i] = static_cast<uint16_t>(format.palette[i].g * 257);
                b[i] = static_cast<uint16_t>(format.palette[i].b * 257);
            }
            ok = ok && TIFFSetField(tif_, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        if (options_.compression == TiffCompression::Lzw && (rgb || format.greyscale)) {
            ok = ok && TIFFSetField(tif_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        if (options_.compression == TiffCompression::G3) {
            ok = ok && TIFFSetField(tif_, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
        }
        const bool paged = options_.pageCount > 1 || classF() || pages_ > 0;
        if (paged) {
            ok = ok && TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                 TIFFSetField(tif_, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(pages_),
                              static_cast<uint16_t>(std::max(options_.pageCount, 0)));
        }
        if (classF()) {
            // Class F: one strip per page, Group 3 one-dimensional coding with byte-aligned
            // EOLs, bits in the order fax hardware sends them, and the fax quality fields.
            ok = ok && TIFFSetField(tif_, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS) &&
                 TIFFSetField(tif_, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB) &&
                 TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(format.height)) &&
                 TIFFSetField(tif_, TIFFTAG_BADFAXLINES, static_cast<uint32_t>(0)) &&
                 TIFFSetField(tif_, TIFFTAG_CLEANFAXDATA, CLEANFAXDATA_CLEAN) &&
                 TIFFSetField(tif_, TIFFTAG_CONSECUTIVEBADFAXLINES, static_cast<uint32_t>(0));
        } else {
            // Strips of about 64 KB of raw rows: small enough to stream, large enough that
            // the per-strip overhead of the codecs does not show.
            const uint32_t rowBytes = static_cast<uint32_t>(TIFFScanlineSize64(tif_));
            uint32_t rows = std::max<uint32_t>(1, (64u << 10) / std::max<uint32_t>(rowBytes, 1));
            if (options_.compression == TiffCompression::Jpeg) {
                rows = std::max<uint32_t>(16, rows / 16 * 16);
            }
            ok = ok && TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, rows));
        }
        if (!ok) {
            Fail("cannot describe page " + std::to_string(pages_ + 1));
        }
        packed_.assign(static_cast<size_t>(TIFFScanlineSize64(tif_)), 0);
        // LZW strips are compressed here and handed to libtiff whole.
        lzw_ = options_.compression == TiffCompression::Lzw;
        if (lzw_) {
            uint32_t rows = 0;
            if (!TIFFGetField(tif_, TIFFTAG_ROWSPERSTRIP, &rows) || rows == 0) {
                Fail("cannot describe page " + std::to_string(pages_ + 1));
            }
            stripRows_ = static_cast<int>(std::min<uint32_t>(rows, format.height));
            predictorSamples_ = rgb ? 3 : format.greyscale ? 1 : 0;
            strip_.resize(packed_.size() * static_cast<size_t>(stripRows_));
            stripFill_ = 0;
            strips_ = 0;
        }
    }

    void WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride) override
    {
        if (!inPage_ || rowCount < 0 || rowCount > format_.height - rows_) {
            Refuse("rows arrived outside a page or past its end");
        }
        if (lzw_) {
            for (int i = 0; i < rowCount; ++i) {
                const uint8_t *row = Pack(rows + i * stride);
                uint8_t *to = strip_.data() + static_cast<size_t>(stripFill_) * packed_.size();
                if (predictorSamples_ != 0) {
                    TiffHorizontalDifference(row, to, packed_.size(), predictorSamples_);
                } else {
                    std::memcpy(to, row, packed_.size());
                }
                ++rows_;
                if (++stripFill_ == stripRows_ || rows_ == format_.height) {
                    WriteLzwStrip();
                }
            }
            return;
        }
        for (int i = 0; i < rowCount; ++i) {
            const uint8_t *row = Pack(rows + i * stride);
            if (TIFFWriteScanline(tif_, const_cast<uint8_t *>(row), static_cast<uint32_t>(rows_),
                                  0) < 0) {
                Fail("cannot write page " + std::to_string(pages_ + 1));
            }
            ++rows_;
        }
    }

    void EndPage() override
    {
        if (!inPage_ || rows_ != format_.height) {
            Refuse("a page ended before all its rows arrived");
        }
        if (!TIFFWriteDirectory(tif_)) {
            Fail("cannot finish page " + std::to_string(pages_ + 1));
        }
        inPage_ = false;
        ++pages_;
    }

    void Finish() override
    {
        if (inPage_ || pages_ == 0 || tif_ == nullptr) {
            Refuse("the file ended without a complete page");
        }
        TIFF *tif = tif_;
        tif_ = nullptr;
        TIFFClose(tif);
        errno = 0;
        if (std::fflush(out_) != 0 || std::ferror(out_)) {
            Fail("cannot write");
        }
    }

private:
    void WriteLzwStrip()
    {
        const size_t bytes = packed_.size() * static_cast<size_t>(stripFill_);
        TiffLzwEncode(strip_.data(), bytes, predictorSamples_ != 0, compressed_);
        if (TIFFWriteRawStrip(tif_, strips_, compressed_.data(),
                              static_cast<tmsize_t>(compressed_.size())) < 0) {
            Fail("cannot write page " + std::to_string(pages_ + 1));
        }
        ++strips_;
        stripFill_ = 0;
    }

    bool classF() const { return options_.compression == TiffCompression::ClassF; }

    void Check(const PageFormat &format) const
    {
        const int bits = format.bitsPerPixel;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
            Refuse("cannot hold " + std::to_string(bits) + " bits per pixel");
        }
        if (format.width <= 0 || format.height <= 0) {
            Refuse("the page has no pixels");
        }
        if (!(format.xDpi > 0 && format.yDpi > 0)) {
            Refuse("the resolution must be positive");
        }
        const bool fax = options_.compression == TiffCompression::G3 ||
                         options_.compression == TiffCompression::G4 || classF();
        if (fax && bits != 1) {
            Refuse("fax compression holds only 1 bit per pixel");
        }
        if (options_.compression == TiffCompression::Jpeg && !(bits == 24 || format.greyscale)) {
            Refuse("JPEG compression holds only grey levels or 24-bit colour");
        }
        if (classF() && format.width != kFaxWidth) {
            Refuse("a Class F fax page must be " + std::to_string(kFaxWidth) + " pixels wide");
        }
        if (pages_ >= 65535) {
            Refuse("too many pages");
        }
    }

    // One row in the file's layout: 24 bits and 8 bits as they come, 1 and 4 bits packed with
    // the leftmost pixel in the high bits.
    const uint8_t *Pack(const uint8_t *row)
    {
        const int bits = format_.bitsPerPixel;
        if (bits >= 8) {
            return row;
        }
        if (bits == 1) {
            PackBilevel(row, invert_ ? 1 : 0);
        } else {
            PackBits<4>(row, 0);
        }
        return packed_.data();
    }

    // A bilevel fax page is mostly this loop, so eight pixels are packed at once: in a
    // big-endian word of eight 0/1 bytes, the multiply gathers the low bit of byte k into bit k
    // of the top byte, which puts the leftmost pixel into the high bit.
    void PackBilevel(const uint8_t *row, unsigned flip)
    {
        constexpr uint64_t kLowBits = 0x0101010101010101ull;
        constexpr uint64_t kGather = 0x0102040810204080ull;
        const int width = format_.width;
        const uint8_t flipByte = flip != 0 ? 0xFF : 0x00;
        uint8_t *out = packed_.data();
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            uint64_t word;
            std::memcpy(&word, row + x, sizeof word);
            word = BigEndian(word) & kLowBits;
            *out++ = static_cast<uint8_t>((word * kGather) >> 56) ^ flipByte;
        }
        if (x < width) {
            PackTail<1>(row + x, width - x, flip, out);
        }
    }

    static uint64_t BigEndian(uint64_t word)
    {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        return __builtin_bswap64(word);
#else
        return word;
#endif
    }

    // The last pixels of a row that do not fill a byte, padded with zero bits on the right.
    template <int bits>
    static void PackTail(const uint8_t *pixels, int count, unsigned flip, uint8_t *out)
    {
        constexpr unsigned mask = (1u << bits) - 1;
        unsigned byte = 0;
        for (int k = 0; k < count; ++k) {
            byte = byte << bits | ((pixels[k] & mask) ^ flip);
        }
        *out = static_cast<uint8_t>(byte << bits * (8 / bits - count));
    }

    // A whole byte is assembled in a register.
    template <int bits> void PackBits(const uint8_t *row, unsigned flip)
    {
        constexpr int perByte = 8 / bits;
        constexpr unsigned mask = (1u << bits) - 1;
        const int width = format_.width;
        uint8_t *out = packed_.data();
        int x = 0;
        for (; x + perByte <= width; x += perByte) {
            unsigned byte = 0;
            for (int k = 0; k < perByte; ++k) {
                byte = byte << bits | ((row[x + k] & mask) ^ flip);
            }
            *out++ = static_cast<uint8_t>(byte);
        }
        if (x < width) {
            PackTail<bits>(row + x, width - x, flip, out);
        }
    }

    [[noreturn]] void Refuse(const std::string &reason) const
    {
        throw WriteError("TIFF file: " + reason);
    }

    [[noreturn]] void Fail(const std::string &what)
    {
        const int error = errno;
        std::string message = "TIFF file: " + what;
        if (error != 0) {
            message += std::string(": ") + std::strerror(error);
        } else if (!error_.empty()) {
            message += ": " + error_;
        }
        throw WriteError(message);
    }

    std::FILE *out_;
    WriterOptions options_;
    std::string error_;
    TIFF *tif_ = nullptr;
    PageFormat format_;
    bool inPage_ = false;
    bool invert_ = false;
    int rows_ = 0;
    int pages_ = 0;
    std::vector<uint8_t> packed_;
    // LZW: the strip being collected, its compressed form, and where it goes.
    bool lzw_ = false;
    int stripRows_ = 0;
    int stripFill_ = 0;
    uint32_t strips_ = 0;
    int predictorSamples_ = 0;
    std::vector<uint8_t> strip_;
    std::vector<uint8_t> compressed_;
};

} // namespace

std::unique_ptr<ImageWriter> MakeTiffWriter(std::FILE *out, const WriterOptions &options)
{
    return std::make_unique<TiffWriter>(out, options);
}

} // namespace rastool
