/* A small X11 helper for the end-to-end tests.
 *
 *   x11_window_tool find TITLE [TIMEOUT_MS]   wait for a viewable top-level window titled TITLE;
 *                                             print "ID WIDTH HEIGHT" (client area), exit 0;
 *                                             exit 1 if none appears in time
 *   x11_window_tool close ID                  send WM_DELETE_WINDOW, as a window manager's close
 *                                             button does
 *   x11_window_tool sum ID X Y W H            print a checksum of the pixels of the window's
 *                                             rectangle (equal sums: the same picture)
 *
 * The display is taken from $DISPLAY. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int ignore_errors(Display* display, XErrorEvent* error) {
  (void)display;
  (void)error;
  return 0;
}

/* The window's title from _NET_WM_NAME (UTF-8) or WM_NAME; caller frees. */
static char* window_title(Display* display, Window window) {
  Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = NULL;
  if (XGetWindowProperty(display, window, net_wm_name, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data != NULL && count > 0) {
    char* title = strndup((const char*)data, count);
    XFree(data);
    return title;
  }
  if (data != NULL) XFree(data);
  char* name = NULL;
  if (XFetchName(display, window, &name) && name != NULL) {
    char* title = strdup(name);
    XFree(name);
    return title;
  }
  return NULL;
}

/* Depth-first search below `root` for a viewable window with the title; among siblings the
 * topmost (last in stacking order, the most recently raised) wins. */
static Window find_titled(Display* display, Window root, const char* title) {
  Window parent, *children = NULL;
  unsigned int count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = count; i-- > 0 && found == 0;) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable) {
      char* name = window_title(display, children[i]);
      if (name != NULL && strcmp(name, title) == 0) found = children[i];
      free(name);
    }
    if (found == 0) found = find_titled(display, children[i], title);
  }
  if (children != NULL) XFree(children);
  return found;
}

static void sleep_ms(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, NULL);
}

static int cmd_find(Display* display, const char* title, long timeout_ms) {
  for (long waited = 0;; waited += 50) {
    Window window = find_titled(display, DefaultRootWindow(display), title);
    if (window != 0) {
      XWindowAttributes attributes;
      if (XGetWindowAttributes(display, window, &attributes)) {
        printf("0x%lx %d %d\n", (unsigned long)window, attributes.width, attributes.height);
        return 0;
      }
    }
    if (waited >= timeout_ms) break;
    sleep_ms(50);
  }
  fprintf(stderr, "x11_window_tool: no window titled \"%s\"\n", title);
  return 1;
}

static int cmd_close(Display* display, Window window) {
  XEvent event;
  memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  event.xclient.data.l[1] = CurrentTime;
  if (!XSendEvent(display, window, False, NoEventMask, &event)) return 1;
  XSync(display, False);
  return 0;
}

static int cmd_sum(Display* display, Window window, int x, int y, int w, int h) {
  XImage* image = XGetImage(display, window, x, y, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
  if (image == NULL) {
    fprintf(stderr, "x11_window_tool: cannot read the window's pixels\n");
    return 1;
  }
  unsigned long long hash = 14695981039346656037ULL; /* FNV-1a over the 24-bit pixels */
  for (int row = 0; row < h; ++row)
    for (int column = 0; column < w; ++column) {
      hash ^= XGetPixel(image, column, row) & 0xFFFFFF;
      hash *= 1099511628211ULL;
    }
  XDestroyImage(image);
  printf("%016llx\n", hash);
  return 0;
}

/* The pixel at (x, y) as RRGGBB. */
static int cmd_pixel(Display* display, Window window, int x, int y) {
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == NULL) {
    fprintf(stderr, "x11_window_tool: cannot read the window's pixels\n");
    return 1;
  }
  printf("%06lx\n", XGetPixel(image, 0, 0) & 0xFFFFFF);
  XDestroyImage(image);
  return 0;
}

/* How many pixels of the rectangle are exactly RRGGBB. */
static int cmd_count(Display* display, Window window, int x, int y, int w, int h,
                     unsigned long rgb) {
  XImage* image = XGetImage(display, window, x, y, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
  if (image == NULL) {
    fprintf(stderr, "x11_window_tool: cannot read the window's pixels\n");
    return 1;
  }
  long count = 0;
  for (int row = 0; row < h; ++row)
    for (int column = 0; column < w; ++column)
      if ((XGetPixel(image, column, row) & 0xFFFFFF) == rgb) ++count;
  XDestroyImage(image);
  printf("%ld\n", count);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr,
            "usage: %s find TITLE [MS] | close ID | sum ID X Y W H | pixel ID X Y"
            " | count ID X Y W H RRGGBB\n",
            argv[0]);
    return 2;
  }
  // A server still starting up (or resetting) turns a connection away briefly: retry for 2 s.
  Display* display = XOpenDisplay(NULL);
  for (int tries = 0; display == NULL && tries < 40; ++tries) {
    sleep_ms(50);
    display = XOpenDisplay(NULL);
  }
  if (display == NULL) {
    fprintf(stderr, "x11_window_tool: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(ignore_errors);
  int status = 2;
  if (strcmp(argv[1], "find") == 0) {
    status = cmd_find(display, argv[2], argc > 3 ? strtol(argv[3], NULL, 10) : 5000);
  } else if (strcmp(argv[1], "close") == 0) {
    status = cmd_close(display, (Window)strtoul(argv[2], NULL, 0));
  } else if (strcmp(argv[1], "sum") == 0 && argc == 7) {
    status = cmd_sum(display, (Window)strtoul(argv[2], NULL, 0), atoi(argv[3]), atoi(argv[4]),
                     atoi(argv[5]), atoi(argv[6]));
  } else if (strcmp(argv[1], "pixel") == 0 && argc == 5) {
    status = cmd_pixel(display, (Window)strtoul(argv[2], NULL, 0), atoi(argv[3]), atoi(argv[4]));
  } else if (strcmp(argv[1], "count") == 0 && argc == 8) {
    status = cmd_count(display, (Window)strtoul(argv[2], NULL, 0), atoi(argv[3]), atoi(argv[4]),
                       atoi(argv[5]), atoi(argv[6]), strtoul(argv[7], NULL, 16));
  } else {
    fprintf(stderr, "x11_window_tool: unknown command %s\n", argv[1]);
  }
  XCloseDisplay(display);
  return status;
}
