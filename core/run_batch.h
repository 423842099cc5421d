// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/batch_host.h"
#include "core/conversion_settings.h"
#include "core/path_components.h"
#include "core/run_process.h"

#include <cstdint>
#include <string>

// Moves the progress bar to (i * 100 + 99) / n, counting row i as nearly done, then lets the
// window handle whatever is pending. Does nothing when n is not positive.
void ShowProgressAndPump(BatchHost &host, int32_t i, int32_t n);

// The Convert operation: reads the options through the host, then starts the engine beside
// `frontEndPath` once per row, in list order, each after the previous one has ended. `settings`
// is the window's own record, read again for every row, so changes handled during the run
// apply to the next command built. The row count is taken once; the run stops early at the
// first row that no longer exists. Each run that does not return 0 is reported to the host with
// its reason, and the final status counts them.
void RunBatch(BatchHost &host, const ConversionSettings &settings, const std::string &frontEndPath,
              const ProcessRunner &runner, PathStyle style = PathStyle::Posix);
