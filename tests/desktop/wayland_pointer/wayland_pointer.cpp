// SPDX-License-Identifier: AGPL-3.0-or-later
// A pointer for a headless Wayland compositor, which has no input device of its own: a virtual
// pointer (the wlroots protocol), moved and pressed by commands on standard input.
//
//   wayland_pointer WIDTH HEIGHT     (the size of the compositor's layout)
//   move X Y | down | up             each answered "ok" once the compositor has taken it
//
// The protocol's two interfaces are declared here: Debian ships no header for them.
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

namespace {

extern const wl_interface kPointerInterface;

const wl_interface *const kCreateTypes[] = {&wl_seat_interface, &kPointerInterface};
const wl_interface *const kNoTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};

const wl_message kManagerRequests[] = {
    {"create_virtual_pointer", "?on", const_cast<const wl_interface **>(kCreateTypes)},
    {"destroy", "", nullptr},
};

const wl_message kPointerRequests[] = {
    {"motion", "uff", const_cast<const wl_interface **>(kNoTypes)},
    {"motion_absolute", "uuuuu", const_cast<const wl_interface **>(kNoTypes)},
    {"button", "uuu", const_cast<const wl_interface **>(kNoTypes)},
    {"axis", "uuf", const_cast<const wl_interface **>(kNoTypes)},
    {"frame", "", nullptr},
    {"axis_source", "u", const_cast<const wl_interface **>(kNoTypes)},
    {"axis_stop", "uu", const_cast<const wl_interface **>(kNoTypes)},
    {"axis_discrete", "uufi", const_cast<const wl_interface **>(kNoTypes)},
    {"destroy", "", nullptr},
};

const wl_interface kManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr,
};
const wl_interface kPointerInterface = {
    "zwlr_virtual_pointer_v1", 1, 9, kPointerRequests, 0, nullptr,
};

enum PointerRequest : uint32_t { kMotionAbsolute = 1, kButton = 2, kFrame = 4 };
constexpr uint32_t kLeftButton = 0x110; // BTN_LEFT
constexpr uint32_t kPressed = 1;
constexpr uint32_t kReleased = 0;

struct Globals {
    wl_seat *seat = nullptr;
    wl_proxy *manager = nullptr;
};

void OnGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
              uint32_t /*version*/)
{
    auto *globals = static_cast<Globals *>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat)
        globals->seat =
            static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, kManagerInterface.name) == 0)
        globals->manager =
            static_cast<wl_proxy *>(wl_registry_bind(registry, name, &kManagerInterface, 1));
}

void OnGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

uint32_t NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const auto width = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const auto height = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wayland_pointer: no Wayland display\n");
        return 1;
    }
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.seat || !globals.manager) {
        std::fprintf(stderr, "wayland_pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    wl_proxy *pointer =
        wl_proxy_marshal_constructor(globals.manager, 0, &kPointerInterface, globals.seat, nullptr);
    wl_display_roundtrip(display);
    std::cout << "ready" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            uint32_t x = 0;
            uint32_t y = 0;
            words >> x >> y;
            wl_proxy_marshal(pointer, kMotionAbsolute, NowMs(), x, y, width, height);
        } else if (command == "down" || command == "up") {
            wl_proxy_marshal(pointer, kButton, NowMs(), kLeftButton,
                             command == "down" ? kPressed : kReleased);
        } else {
            std::cout << "unknown command: " << command << std::endl;
            continue;
        }
        wl_proxy_marshal(pointer, kFrame);
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "wayland_pointer: the compositor closed the connection\n");
            return 1;
        }
        std::cout << "ok" << std::endl;
    }
    wl_display_disconnect(display);
    return 0;
}
