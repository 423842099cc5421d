// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/nesting_check.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

extern "C" {
#include <mupdf/pdf.h>
}

namespace render {

namespace {

// The kinds of resources that carry resources of their own.
enum Category { XObjects, Patterns, GraphicsStates, Fonts, kCategories };

pdf_obj *CategoryName(int category)
{
    switch (category) {
    case XObjects:
        return PDF_NAME(XObject);
    case Patterns:
        return PDF_NAME(Pattern);
    case GraphicsStates:
        return PDF_NAME(ExtGState);
    default:
        return PDF_NAME(Font);
    }
}

// Where the walk stands in one resource dictionary.
struct Cursor {
    int category = 0;
    int entry = 0;
};

// The resource dictionary a resource brings along, or null. Called inside fz_try.
pdf_obj *ResourcesOf(fz_context *ctx, int category, pdf_obj *resource)
{
    pdf_obj *resources = nullptr;
    switch (category) {
    case XObjects:
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, resource, PDF_NAME(Subtype)), PDF_NAME(Form))) {
            resources = pdf_dict_get(ctx, resource, PDF_NAME(Resources));
        }
        break;
    case Patterns:
        resources = pdf_dict_get(ctx, resource, PDF_NAME(Resources));
        break;
    case GraphicsStates: {
        pdf_obj *group =
            pdf_dict_get(ctx, pdf_dict_get(ctx, resource, PDF_NAME(SMask)), PDF_NAME(G));
        resources = pdf_dict_get(ctx, group, PDF_NAME(Resources));
        break;
    }
    default:
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, resource, PDF_NAME(Subtype)), PDF_NAME(Type3))) {
            resources = pdf_dict_get(ctx, resource, PDF_NAME(Resources));
        }
        break;
    }
    // Resolved, so that one dictionary reached through several references is one node.
    resources = pdf_resolve_indirect_chain(ctx, resources);
    return pdf_is_dict(ctx, resources) ? resources : nullptr;
}

// Moves the cursor to the next resource of the dictionary that has resources of its own and
// sets *child to those (null when the dictionary has no more).
int NextChild(fz_context *ctx, pdf_obj *resources, Cursor *cursor, pdf_obj **child)
{
    *child = nullptr;
    fz_try(ctx)
    {
        while (cursor->category < kCategories && *child == nullptr) {
            pdf_obj *dict = pdf_dict_get(ctx, resources, CategoryName(cursor->category));
            if (cursor->entry >= pdf_dict_len(ctx, dict)) {
                ++cursor->category;
                cursor->entry = 0;
                continue;
            }
            pdf_obj *resource = pdf_dict_get_val(ctx, dict, cursor->entry++);
            *child = ResourcesOf(ctx, cursor->category, resource);
        }
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

int PageObject(fz_context *ctx, fz_document *doc, int pageIndex, pdf_obj **out)
{
    *out = nullptr;
    fz_try(ctx)
    {
        if (pdf_document *pdf = pdf_document_from_fz_document(ctx, doc)) {
            *out = pdf_lookup_page_obj(ctx, pdf, pageIndex);
        }
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

pdf_obj *ResolvedDict(fz_context *ctx, pdf_obj *obj)
{
    obj = pdf_resolve_indirect_chain(ctx, obj);
    return pdf_is_dict(ctx, obj) ? obj : nullptr;
}

// Where the walk stands among the resource dictionaries a page is drawn with: its own, then
// those of its annotations' normal appearances, which the library scans alike as it loads it.
struct Roots {
    pdf_obj *page = nullptr;
    int annotation = -1; // -1: the page's own resources are next
    int state = 0;       // the appearance state within the annotation
};

// Sets *root to the next such dictionary, null when there are no more.
int NextRoot(fz_context *ctx, Roots *roots, pdf_obj **root, int *more)
{
    *root = nullptr;
    *more = 1;
    fz_try(ctx)
    {
        if (roots->annotation < 0) {
            roots->annotation = 0;
            *root =
                ResolvedDict(ctx, pdf_dict_get_inheritable(ctx, roots->page, PDF_NAME(Resources)));
        }
        pdf_obj *annotations = pdf_dict_get(ctx, roots->page, PDF_NAME(Annots));
        while (*root == nullptr && roots->annotation < pdf_array_len(ctx, annotations)) {
            pdf_obj *normal =
                pdf_dict_getp(ctx, pdf_array_get(ctx, annotations, roots->annotation), "AP/N");
            pdf_obj *appearance = nullptr;
            if (pdf_is_stream(ctx, normal)) {
                appearance = roots->state++ == 0 ? normal : nullptr;
            } else if (roots->state < pdf_dict_len(ctx, normal)) {
                appearance = pdf_dict_get_val(ctx, normal, roots->state++);
            }
            if (appearance == nullptr) {
                ++roots->annotation;
                roots->state = 0;
                continue;
            }
            *root = ResolvedDict(ctx, pdf_dict_get(ctx, appearance, PDF_NAME(Resources)));
        }
        *more = *root != nullptr;
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

} // namespace

namespace {

// How deep the resources below root nest (root counting one), or limit + 1 as soon as they
// nest deeper. Depth first with a stack of our own. The depth of a finished dictionary (itself
// and what nests below it) is kept, so a dictionary reached again costs nothing: a tree whose
// every level names the next twice is measured in linear time, not exponential.
int Walk(fz_context *ctx, pdf_obj *root, int limit, std::unordered_map<pdf_obj *, int> &finished,
         int *depth)
{
    struct Frame {
        pdf_obj *resources;
        Cursor cursor;
        int below; // the deepest nesting found below it so far
    };
    if (const auto known = finished.find(root); known != finished.end()) {
        *depth = known->second;
        return 0;
    }
    std::vector<Frame> stack{{root, {}, 0}};
    std::unordered_set<pdf_obj *> open{root};
    while (!stack.empty()) {
        pdf_obj *child = nullptr;
        if (const int code = NextChild(ctx, stack.back().resources, &stack.back().cursor, &child);
            code != 0) {
            return code;
        }
        const int level = static_cast<int>(stack.size());
        if (child == nullptr) {
            const int own = stack.back().below + 1;
            finished[stack.back().resources] = own;
            open.erase(stack.back().resources);
            stack.pop_back();
            if (stack.empty()) {
                *depth = own;
            } else {
                stack.back().below = std::max(stack.back().below, own);
            }
            continue;
        }
        if (open.count(child) != 0) {
            continue;
        }
        const auto known = finished.find(child);
        const int childDepth = known != finished.end() ? known->second : 1;
        if (level + childDepth > limit) {
            *depth = limit + 1;
            return 0;
        }
        if (known != finished.end()) {
            stack.back().below = std::max(stack.back().below, childDepth);
            continue;
        }
        stack.push_back({child, {}, 0});
        open.insert(child);
    }
    return 0;
}

} // namespace

int MeasureResourceNesting(fz_context *ctx, fz_document *doc, int pageIndex, int limit, int *depth)
{
    *depth = 0;
    Roots roots;
    if (const int code = PageObject(ctx, doc, pageIndex, &roots.page);
        code != 0 || roots.page == nullptr) {
        return code;
    }
    std::unordered_map<pdf_obj *, int> finished;
    for (;;) {
        pdf_obj *root = nullptr;
        int more = 0;
        if (const int code = NextRoot(ctx, &roots, &root, &more); code != 0) {
            return code;
        }
        if (!more) {
            return 0;
        }
        int rootDepth = 0;
        if (const int code = Walk(ctx, root, limit, finished, &rootDepth); code != 0) {
            return code;
        }
        *depth = std::max(*depth, rootDepth);
        if (*depth > limit) {
            return 0;
        }
    }
}

} // namespace render
