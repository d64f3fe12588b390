/* Modem lines for pseudo-terminals, preloaded into wine by serial_peers.py.
 *
 * A pseudo-terminal has no DTR or RTS, so Linux refuses TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC on
 * it and wine turns that into ERROR_NOT_SUPPORTED for EscapeCommFunction(SETDTR), where a real
 * COM port (a USB virtual one included) raises the line. For the pseudo-terminals named in
 * QOR_MODEM_PTYS (slave paths separated by ':') this keeps the two output lines per descriptor
 * instead, so that wine behaves as with a real port and reads back what was set. Every other
 * descriptor, and every other request, goes to the system unchanged.
 *
 * Preloaded into the wine server as well, it keeps the server from taking a pseudo-terminal it
 * opens as its controlling terminal (the server leads a session of its own): every open gets
 * O_NOCTTY, which changes nothing for other files. Otherwise each port that goes away would
 * hang up the server's session, and the server answers that by dumping all its objects. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

enum { kMaxFd = 4096 };
static int lines[kMaxFd];

/* The next definition of a function this file replaces, looked up once. */
static void* next(void** cache, const char* name) {
    if (*cache == NULL) {
        *cache = dlsym(RTLD_NEXT, name);
    }
    return *cache;
}

typedef int (*IoctlFn)(int, unsigned long, ...);
typedef int (*CloseFn)(int);
typedef int (*OpenFn)(const char*, int, ...);
typedef int (*OpenAtFn)(int, const char*, int, ...);

static int isListedPty(int fd) {
    const char* list = getenv("QOR_MODEM_PTYS");
    char name[256];
    if (list == NULL || ttyname_r(fd, name, sizeof name) != 0) {
        return 0;
    }
    const size_t n = strlen(name);
    for (const char* p = list; *p != '\0';) {
        const char* end = strchr(p, ':');
        const size_t len = end != NULL ? (size_t)(end - p) : strlen(p);
        if (len == n && strncmp(p, name, n) == 0) {
            return 1;
        }
        p += len + (end != NULL);
    }
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    static void* fn;
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int result = ((IoctlFn)next(&fn, "ioctl"))(fd, request, arg);
    const int modemRequest =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (result != -1 || !modemRequest || (errno != ENOTTY && errno != EINVAL) || fd < 0 ||
        fd >= kMaxFd || !isListedPty(fd)) {
        return result;
    }
    int* bits = (int*)arg;
    const int outputs = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
        case TIOCMGET:
            *bits = lines[fd];
            break;
        case TIOCMSET:
            lines[fd] = *bits & outputs;
            break;
        case TIOCMBIS:
            lines[fd] |= *bits & outputs;
            break;
        default:
            lines[fd] &= ~*bits;
            break;
    }
    return 0;
}

/* A closed port drops its lines; the next open of the descriptor number starts afresh. */
int close(int fd) {
    static void* fn;
    if (fd >= 0 && fd < kMaxFd) {
        lines[fd] = 0;
    }
    return ((CloseFn)next(&fn, "close"))(fd);
}

/* The mode argument is there only when the flags create a file. */
#define MODE_ARGUMENT(flags)                      \
    mode_t mode = 0;                              \
    if (((flags) & (O_CREAT | O_TMPFILE)) != 0) { \
        va_list args;                             \
        va_start(args, flags);                    \
        mode = va_arg(args, mode_t);              \
        va_end(args);                             \
    }

int open(const char* path, int flags, ...) {
    static void* fn;
    MODE_ARGUMENT(flags)
    return ((OpenFn)next(&fn, "open"))(path, flags | O_NOCTTY, mode);
}

int open64(const char* path, int flags, ...) {
    static void* fn;
    MODE_ARGUMENT(flags)
    return ((OpenFn)next(&fn, "open64"))(path, flags | O_NOCTTY, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    static void* fn;
    MODE_ARGUMENT(flags)
    return ((OpenAtFn)next(&fn, "openat"))(dir, path, flags | O_NOCTTY, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
    static void* fn;
    MODE_ARGUMENT(flags)
    return ((OpenAtFn)next(&fn, "openat64"))(dir, path, flags | O_NOCTTY, mode);
}
