// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/options.h"

#include <functional>
#include <string>

namespace rastool {

using WarningSink = std::function<void(const std::string &)>;

// Converts the pages that the options name. Throws Failure with the exit status and message;
// warnings (a depth replaced by the nearest one the type holds) go to warn.
// workers: the number of rendering threads, 0 for one per core.
// A page that takes longer than options.pageTimeLimit seconds ends the process: its temporary
// files are removed, one line goes to standard error, and the exit status is PageTimeLimit.
void Convert(const Options &options, const WarningSink &warn, unsigned workers = 0);

} // namespace rastool
