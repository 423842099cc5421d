// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/output_intent.h"

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace render {

namespace {

// The profile stream of the first output intent with N = 4, or none.
int FindProfile(fz_context *ctx, fz_document *doc, pdf_obj **out)
{
    fz_try(ctx)
    {
        *out = nullptr;
        if (pdf_document *pdf = pdf_document_from_fz_document(ctx, doc)) {
            pdf_obj *root = pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Root));
            pdf_obj *intents = pdf_dict_get(ctx, root, PDF_NAME(OutputIntents));
            const int count = pdf_array_len(ctx, intents);
            for (int i = 0; i < count && *out == nullptr; ++i) {
                pdf_obj *profile =
                    pdf_dict_get(ctx, pdf_array_get(ctx, intents, i), PDF_NAME(DestOutputProfile));
                if (pdf_is_stream(ctx, profile) &&
                    pdf_dict_get_int(ctx, profile, PDF_NAME(N)) == 4) {
                    *out = profile;
                }
            }
        }
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

int LoadProfile(fz_context *ctx, pdf_obj *profile, fz_buffer **out)
{
    fz_try(ctx)
    {
        *out = pdf_load_stream(ctx, profile);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

} // namespace

std::optional<std::vector<unsigned char>> CmykOutputIntent(fz_context *ctx, fz_document *doc)
{
    pdf_obj *profile = nullptr;
    if (FindProfile(ctx, doc, &profile) != 0 || profile == nullptr) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    fz_buffer *buffer = nullptr;
    if (LoadProfile(ctx, profile, &buffer) != 0) {
        return bytes;
    }
    unsigned char *data = nullptr;
    const size_t size = fz_buffer_storage(ctx, buffer, &data);
    try {
        bytes.assign(data, data + size);
    } catch (...) {
        fz_drop_buffer(ctx, buffer);
        throw;
    }
    fz_drop_buffer(ctx, buffer);
    return bytes;
}

} // namespace render
