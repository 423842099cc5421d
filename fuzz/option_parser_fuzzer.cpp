// SPDX-License-Identifier: AGPL-3.0-or-later
// Feeds arbitrary argument vectors to the engine's option parser. The input is split at NUL
// bytes into one argument each. Besides crashes and sanitizer reports, a result that breaks
// the parser's contract is a finding: a refusal must carry a one-line message, and accepted
// options must lie within the ranges the engine relies on.
#include "engine/capabilities.h"
#include "engine/options.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

void CheckAccepted(const rastool::Options &o)
{
    if (o.action != rastool::Options::Action::Convert) {
        return;
    }
    Require(!o.input.empty() && !o.output.empty(), "input and output named");
    Require(rastool::FindTypeForPath(o.output) != nullptr, "output type known");
    Require(o.xDpi >= rastool::kMinDpi && o.xDpi <= rastool::kMaxDpi, "x resolution in range");
    Require(o.yDpi >= rastool::kMinDpi && o.yDpi <= rastool::kMaxDpi, "y resolution in range");
    Require(!o.firstPage || *o.firstPage >= 1, "first page from 1");
    Require(!o.lastPage || *o.lastPage >= 1, "last page from 1");
    Require(o.bits == 0 || o.bits == 1 || o.bits == 4 || o.bits == 8 || o.bits == 24,
            "bits per pixel one of 0 1 4 8 24");
    Require(o.jpegQuality >= 0 && o.jpegQuality <= 100, "JPEG quality 0..100");
    Require(o.pageTimeLimit >= 0 && o.pageTimeLimit <= rastool::kMaxPageTimeLimit,
            "page time limit in range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 0) {
        args.push_back(current);
    }
    const rastool::ParseResult result = rastool::ParseOptions(args);
    if (result.options) {
        Require(result.error.empty(), "no message with accepted options");
        CheckAccepted(*result.options);
    } else {
        Require(!result.error.empty(), "a refusal has a message");
        Require(result.error.find('\n') == std::string::npos, "the message is one line");
    }
    return 0;
}
