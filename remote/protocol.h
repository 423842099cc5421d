// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

// The conversation between the window and the helper process that parses documents for it, over
// one stream socket of a socket pair: the window sends a request, the helper answers it, one at a
// time. A descriptor travels beside a message (SCM_RIGHTS): the opened document file with Open,
// the shared memory the pixels go into with Render. Both ends are this program's own build, so
// the structures go across as they are.

#include <cstdint>
#include <string>

namespace remote {

enum class Op : uint32_t {
    Open = 1,         // descriptor: the file; answers the document's id in `a`, its pages in `b`
    PageSize,         // answers width and height
    DeclaredPageSize, // answers width and height
    PixelSize,        // answers the raster size in `a` and `b`
    Render,           // descriptor: the memory, rows of exactly width × components bytes
    AntiAliasing,     // `flag`: on or off
    Problems,         // answers the problems as text, one a line
    Close,            // not answered: nobody waits for it
};

struct Request {
    Op op;
    uint32_t document;
    int32_t page;
    int32_t y0;
    int32_t rows;
    int32_t flag; // AntiAliasing: on; Render: 1 for grey
    double xDpi;
    double yDpi;
};

struct Reply {
    uint32_t ok;   // 0: failed, `kind` and the text tell why
    uint32_t kind; // render::RenderError::Kind when failed
    int32_t a;
    int32_t b;
    double width;
    double height;
    uint32_t textBytes; // this many bytes of text follow the reply
};

// The helper's standard descriptor for its end of the pair.
constexpr int kServiceFd = 3;

// Blocking transfers that go on through EINTR. Each returns false when the other end has gone
// (or the message is malformed); fd is -1 when none is sent, *receivedFd -1 when none came.
bool SendMessage(int socket, const void *data, size_t size, int fd);
bool ReceiveMessage(int socket, void *data, size_t size, int *receivedFd);
bool SendAll(int socket, const void *data, size_t size);
bool ReceiveAll(int socket, void *data, size_t size);

} // namespace remote
