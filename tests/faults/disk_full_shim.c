/* A small drive, simulated below Wine. Preloaded (LD_PRELOAD) into the Wine
 * processes of a test, it reads the file named by FAULT_FULL_CONTROL when a
 * process first writes: a Linux folder on its first line and a byte count on
 * the second. That process may then write that many bytes to files under the
 * folder, and every further write there fails with ENOSPC, as on a full
 * filesystem. Without the file it changes nothing. The control goes through a
 * file because Wine hands a child the Unix environment of its parent, not the
 * environment block given to CreateProcess. This machine cannot mount a
 * size-limited filesystem for the test prefix. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static long long g_left = -1;
static char g_dir[4096];
static char g_refused[4096];
static int g_limited; /* set once, before any charge */

/* The installer writes from two threads (the worker and its helper): the
 * control is read once and the budget spent under a lock. */
static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

static void ReadControl(void) {
    const char* control = getenv("FAULT_FULL_CONTROL");
    FILE* file = control && *control ? fopen(control, "r") : NULL;
    if (!file)
        return;
    char bytes[64] = "";
    if (fgets(g_dir, sizeof g_dir, file) && fgets(bytes, sizeof bytes, file)) {
        g_dir[strcspn(g_dir, "\r\n")] = '\0';
        if (g_dir[0]) {
            g_left = atoll(bytes);
            g_limited = g_left >= 0;
        }
    }
    fclose(file);
    snprintf(g_refused, sizeof g_refused, "%s.refused", control);
}

/* Leaves "<control>.refused" behind once a write was cut short, so a test can
 * tell a program that hid the failure from a preload that never took effect.
 * open() and close() only: this runs inside write(). */
static void NoteRefusal(void) {
    static int noted;
    if (noted || !g_refused[0])
        return;
    noted = 1;
    int fd = open(g_refused, O_WRONLY | O_CREAT, 0644);
    if (fd >= 0)
        close(fd);
}

static int OnSmallDrive(int fd) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    return strncmp(path, g_dir, strlen(g_dir)) == 0;
}

/* How many of count bytes fit; -1 (errno ENOSPC) when none does. */
static ssize_t Charge(int fd, size_t count) {
    pthread_once(&g_once, ReadControl);
    if (!g_limited || count == 0 || !OnSmallDrive(fd))
        return (ssize_t)count;
    pthread_mutex_lock(&g_lock);
    ssize_t allowed = (ssize_t)count;
    if (g_left == 0) {
        NoteRefusal();
        allowed = -1;
    } else {
        if ((long long)count > g_left) {
            NoteRefusal();
            allowed = (ssize_t)g_left;
        }
        g_left -= (long long)allowed;
    }
    pthread_mutex_unlock(&g_lock);
    if (allowed < 0)
        errno = ENOSPC;
    return allowed;
}

static ssize_t RealWrite(int fd, const void* buf, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    return real(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
    ssize_t allowed = Charge(fd, count);
    return allowed < 0 ? -1 : RealWrite(fd, buf, (size_t)allowed);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    ssize_t allowed = Charge(fd, count);
    return allowed < 0 ? -1 : real(fd, buf, (size_t)allowed, offset);
}

/* Its own entry: on a 32-bit system off_t is 32 bits and would cut the offset. */
ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off64_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    ssize_t allowed = Charge(fd, count);
    return allowed < 0 ? -1 : real(fd, buf, (size_t)allowed, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
    static ssize_t (*real)(int, const struct iovec*, int);
    if (!real)
        real = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
    size_t total = 0;
    for (int i = 0; i < iovcnt; ++i)
        total += iov[i].iov_len;
    ssize_t allowed = Charge(fd, total);
    if (allowed < 0)
        return -1;
    if ((size_t)allowed < total) {
        /* Only part fits: write it from the first buffers. */
        ssize_t done = 0;
        for (int i = 0; i < iovcnt && done < allowed; ++i) {
            size_t n = iov[i].iov_len;
            if ((ssize_t)n > allowed - done)
                n = (size_t)(allowed - done);
            ssize_t r = RealWrite(fd, iov[i].iov_base, n);
            if (r <= 0)
                break;
            done += r;
        }
        return done;
    }
    return real(fd, iov, iovcnt);
}
