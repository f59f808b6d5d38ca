#include "desktopscale.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

QByteArray displayResources()
{
    QByteArray resources;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return resources;
    }
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
    const char name[] = "RESOURCE_MANAGER";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, uint16_t(std::strlen(name)), name), nullptr);
    if (screen.rem > 0 && atom && atom->atom != XCB_ATOM_NONE) {
        // Up to 1 MiB of resources (in 4-byte units); a desktop's are a few KiB.
        xcb_get_property_reply_t *property = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, screen.data->root, atom->atom, XCB_ATOM_STRING, 0, 256 * 1024),
            nullptr);
        if (property && property->format == 8) {
            resources = QByteArray(static_cast<const char *>(xcb_get_property_value(property)),
                                   xcb_get_property_value_length(property));
        }
        std::free(property);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return resources;
}
