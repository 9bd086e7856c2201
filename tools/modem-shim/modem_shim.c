/*
 * Modem-line shim for Wine on a pty.
 *
 * A pty has no modem lines, so the modem-line ioctls fail on it and Wine's
 * wait for serial events returns at once. Loaded into Wine with LD_PRELOAD,
 * this library answers TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC for pty
 * slaves from a state kept per line (per slave device, so every descriptor
 * of one pty sees the same lines), and passes every other call on.
 *
 * After every request that sets lines it appends the state of RTS and DTR to
 * the file named by $QUILL_MODEM_LOG, one line each, with the number N of
 * the pty's slave /dev/pts/N:
 *     <CLOCK_MONOTONIC ms> RTS=<0|1> DTR=<0|1> pty=<N>
 * so that a terminal simulator can tell the infrared adapter (RTS low) from
 * the terminal (RTS high) on its own line, while other lines change too.
 *
 * Wine's 32-bit unix side calls __ioctl_time64, plain programs call ioctl;
 * both are taken.
 */
#define _GNU_SOURCE
/* fstat must not fail with EOVERFLOW on large inode numbers. */
#define _FILE_OFFSET_BITS 64
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

enum {
    PTY_SLAVE_FIRST_MAJOR = 136,
    PTY_SLAVE_LAST_MAJOR = 143,
    MAX_LINES = 64,
    /* The lines that the computer drives; the others are inputs. */
    OUTPUT_LINES = TIOCM_DTR | TIOCM_RTS,
    /* A freshly opened port: DTR and RTS raised, the far end present. */
    INITIAL_LINES = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR
};

struct line_state {
    dev_t device;
    int bits;
    int used;
};

static struct line_state lines[MAX_LINES];
static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER;

static ioctl_fn next_ioctl;
static ioctl_fn next_ioctl_time64;
static pthread_once_t resolve_once = PTHREAD_ONCE_INIT;

static void resolve_next(void)
{
    next_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    next_ioctl_time64 = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
    if (!next_ioctl_time64)
        next_ioctl_time64 = next_ioctl;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

static int pty_slave_device(int fd, dev_t *device)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    if (major(st.st_rdev) < PTY_SLAVE_FIRST_MAJOR || major(st.st_rdev) > PTY_SLAVE_LAST_MAJOR)
        return 0;
    *device = st.st_rdev;
    return 1;
}

/* The state of a line, made on first use; NULL when the table is full. */
static struct line_state *line_of(dev_t device)
{
    struct line_state *free_slot = NULL;
    for (int i = 0; i < MAX_LINES; ++i) {
        if (lines[i].used && lines[i].device == device)
            return &lines[i];
        if (!lines[i].used && !free_slot)
            free_slot = &lines[i];
    }
    if (free_slot) {
        free_slot->used = 1;
        free_slot->device = device;
        free_slot->bits = INITIAL_LINES;
    }
    return free_slot;
}

static unsigned long long monotonic_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long long)now.tv_sec * 1000ull + (unsigned long long)now.tv_nsec / 1000000ull;
}

/* The number N of the pty slave /dev/pts/N. */
static unsigned pty_number(dev_t device)
{
    return (unsigned)(major(device) - PTY_SLAVE_FIRST_MAJOR) * 256u + (unsigned)minor(device);
}

static void record_lines(int bits, dev_t device)
{
    const char *path = getenv("QUILL_MODEM_LOG");
    if (!path || !*path)
        return;
    char text[80];
    int length = snprintf(text, sizeof text, "%llu RTS=%d DTR=%d pty=%u\n", monotonic_ms(),
                          (bits & TIOCM_RTS) ? 1 : 0, (bits & TIOCM_DTR) ? 1 : 0, pty_number(device));
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    /* One write per line keeps lines whole when several processes append. */
    ssize_t ignored = write(fd, text, (size_t)length);
    (void)ignored;
    close(fd);
}

static int answer_modem_request(dev_t device, unsigned long request, int *value)
{
    if (!value) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&lines_lock);
    struct line_state *line = line_of(device);
    if (!line) {
        pthread_mutex_unlock(&lines_lock);
        errno = ENOMEM;
        return -1;
    }
    if (request == TIOCMGET) {
        *value = line->bits;
        pthread_mutex_unlock(&lines_lock);
        return 0;
    }
    int wanted = *value & OUTPUT_LINES;
    if (request == TIOCMSET)
        line->bits = (line->bits & ~OUTPUT_LINES) | wanted;
    else if (request == TIOCMBIS)
        line->bits |= wanted;
    else
        line->bits &= ~wanted;
    int bits = line->bits;
    record_lines(bits, device);
    pthread_mutex_unlock(&lines_lock);
    return 0;
}

static int dispatch(ioctl_fn next, int fd, unsigned long request, void *arg)
{
    dev_t device;
    if (is_modem_request(request) && pty_slave_device(fd, &device))
        return answer_modem_request(device, request, (int *)arg);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, request, arg);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    pthread_once(&resolve_once, resolve_next);
    return dispatch(next_ioctl, fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    pthread_once(&resolve_once, resolve_next);
    return dispatch(next_ioctl_time64, fd, request, arg);
}
