// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

namespace rastool {

// Answers the window's requests (remote/protocol.h) on `socket` until the window closes it or a
// message cannot be read: documents arrive as open descriptors and pixels leave through memory
// the window shares, so nothing here opens a file, starts a program or uses the network.
// Returns the process's exit status.
int Serve(int socket);

} // namespace rastool
