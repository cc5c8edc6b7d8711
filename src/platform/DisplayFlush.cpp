#include "platform/DisplayFlush.h"

#include <QGuiApplication>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#include <xcb/xcb.h>
#define CORVANTA_HAVE_XCB 1
#endif

void FlushDisplay()
{
#ifdef CORVANTA_HAVE_XCB
    auto* app = qGuiApp;
    if (!app)
        return;
    if (auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>()) {
        if (xcb_connection_t* c = x11->connection())
            xcb_flush(c);
    }
#endif
}
