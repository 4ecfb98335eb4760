// Asks a window for what a window manager's buttons would ask, which xdotool
// cannot send. Usage (DISPLAY set):
//   xwin close WINDOW-ID      WM_DELETE_WINDOW, as a close button sends it
//   xwin maximize WINDOW-ID   _NET_WM_STATE add maximized, as a maximise button
//                             asks the window manager
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool sendClientMessage(Display *display, Window window, const char *type, Window target, long mask,
                       long l0, long l1 = 0, long l2 = 0, long l3 = 0)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    return XSendEvent(display, target, False, mask, &event);
}

long atom(Display *display, const char *name) { return static_cast<long>(XInternAtom(display, name, False)); }

bool sendClose(Display *display, Window window)
{
    return sendClientMessage(display, window, "WM_PROTOCOLS", window, NoEventMask,
                             atom(display, "WM_DELETE_WINDOW"), CurrentTime);
}

// The EWMH request goes to the root window, where the window manager listens:
// add (1) both maximised states, asked by the user (2).
bool sendMaximize(Display *display, Window window)
{
    return sendClientMessage(display, window, "_NET_WM_STATE", DefaultRootWindow(display),
                             SubstructureRedirectMask | SubstructureNotifyMask, 1,
                             atom(display, "_NET_WM_STATE_MAXIMIZED_VERT"),
                             atom(display, "_NET_WM_STATE_MAXIMIZED_HORZ"), 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "close") != 0 && std::strcmp(argv[1], "maximize") != 0)) {
        std::fprintf(stderr, "usage: %s close|maximize WINDOW-ID\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Window window = std::strtoul(argv[2], nullptr, 0);
    const bool sent = std::strcmp(argv[1], "close") == 0 ? sendClose(display, window)
                                                         : sendMaximize(display, window);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
