// SPDX-License-Identifier: AGPL-3.0-or-later
// JPEG through libjpeg-turbo: 24-bit colour or 8-bit grey, quality from -q, dpi in the JFIF
// density fields, the colour space as an ICC profile.
#include "engine/writers/single_page_writer.h"
#include "render/srgb_profile.h"

#include <jpeglib.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>

namespace rastool {

namespace {

// libjpeg ends on an error by calling error_exit, which must not return: it jumps back into
// the helper that made the failing call. The helpers hold no C++ object.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JumpOut(j_common_ptr cinfo)
{
    auto *manager = reinterpret_cast<ErrorManager *>(cinfo->err);
    manager->base.format_message(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

void NoOutput(j_common_ptr) {}

bool JpegStart(jpeg_compress_struct *cinfo, ErrorManager *errors, std::FILE *out,
               const PageFormat *format, int quality)
{
    // The profile says what the pixels are, so that colour-managed viewers show them as drawn.
    const std::vector<unsigned char> &profile =
        format->bitsPerPixel == 8 ? render::SrgbGreyProfile() : render::SrgbProfile();
    if (setjmp(errors->jump)) {
        return false;
    }
    jpeg_stdio_dest(cinfo, out);
    cinfo->image_width = static_cast<JDIMENSION>(format->width);
    cinfo->image_height = static_cast<JDIMENSION>(format->height);
    const bool grey = format->bitsPerPixel == 8;
    cinfo->input_components = grey ? 1 : 3;
    cinfo->in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    // Measured on 40 pages at 300 dpi: the fast integer DCT is no faster than the accurate one
    // (both are vectorised) and the float DCT is slower; optimised Huffman tables save 11 % of
    // the size but double the encoding time, so the standard tables stay.
    cinfo->dct_method = JDCT_ISLOW;
    cinfo->optimize_coding = FALSE;
    cinfo->density_unit = 1; // dots per inch
    cinfo->X_density = static_cast<UINT16>(std::lround(std::min(format->xDpi, 65535.0)));
    cinfo->Y_density = static_cast<UINT16>(std::lround(std::min(format->yDpi, 65535.0)));
    cinfo->write_JFIF_header = TRUE;
    jpeg_start_compress(cinfo, TRUE);
    if (!profile.empty()) {
        jpeg_write_icc_profile(cinfo, profile.data(), static_cast<unsigned int>(profile.size()));
    }
    return true;
}

bool JpegRows(jpeg_compress_struct *cinfo, ErrorManager *errors, const uint8_t *rows, int count,
              std::ptrdiff_t stride)
{
    if (setjmp(errors->jump)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + i * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    return true;
}

bool JpegEnd(jpeg_compress_struct *cinfo, ErrorManager *errors)
{
    if (setjmp(errors->jump)) {
        return false;
    }
    jpeg_finish_compress(cinfo);
    return true;
}

class JpegWriter : public SinglePageWriter {
public:
    JpegWriter(std::FILE *out, int quality)
        : SinglePageWriter(out, "JPEG", {8, 24}), out_(out), quality_(quality)
    {
        cinfo_.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = JumpOut;
        errors_.base.output_message = NoOutput;
        errors_.message[0] = '\0';
        jpeg_create_compress(&cinfo_);
    }
    ~JpegWriter() override { jpeg_destroy_compress(&cinfo_); }

private:
    void StartImage(const PageFormat &format) override
    {
        if (format.bitsPerPixel == 8 && !format.greyscale) {
            Refuse("holds 8 bits only as grey levels");
        }
        errno = 0;
        if (!JpegStart(&cinfo_, &errors_, out_, &format, quality_)) {
            Failed();
        }
    }
    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        errno = 0;
        if (!JpegRows(&cinfo_, &errors_, rows, rowCount, stride)) {
            Failed();
        }
    }
    void FinishImage() override
    {
        errno = 0;
        if (!JpegEnd(&cinfo_, &errors_)) {
            Failed();
        }
    }
    [[noreturn]] void Failed()
    {
        const int error = errno;
        Refuse(std::string("cannot write: ") +
               (error != 0 ? std::strerror(error) : errors_.message));
    }

    std::FILE *out_;
    int quality_;
    jpeg_compress_struct cinfo_{};
    ErrorManager errors_{};
};

} // namespace

std::unique_ptr<ImageWriter> MakeJpegWriter(std::FILE *out, const WriterOptions &options)
{
    return std::make_unique<JpegWriter>(out, options.jpegQuality);
}

} // namespace rastool
