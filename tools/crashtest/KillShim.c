/* Preloaded into the crash writers: counts the calls that change files or make them durable
 * (write, pwrite, ftruncate, fsync, fdatasync, unlink) and kills the process with SIGKILL just
 * before call number QMX_KILL_AT. Syncs and unlinks count because the steps between them (a
 * journal made durable, a rolled-back creation removed, then its journal) are states a crash
 * must be able to leave too.
 * With QMX_COUNT_FILE set, the number of such calls is written there at exit. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

static long long s_killAt = -1;
static atomic_llong s_calls;

__attribute__((constructor)) static void shimInit(void) {
    const char* at = getenv("QMX_KILL_AT");
    if (at)
        s_killAt = atoll(at);
}

static void tick(void) {
    const long long n = atomic_fetch_add(&s_calls, 1) + 1;
    if (n == s_killAt)
        kill(getpid(), SIGKILL);
}

typedef ssize_t (*WriteFn)(int, const void*, size_t);
typedef ssize_t (*PwriteFn)(int, const void*, size_t, off_t);
typedef int (*TruncateFn)(int, off_t);
typedef int (*SyncFn)(int);
typedef int (*UnlinkFn)(const char*);
typedef int (*UnlinkatFn)(int, const char*, int);

#define REAL(name, type)     \
    static type real = NULL; \
    if (!real)               \
    real = (type)dlsym(RTLD_NEXT, name)

ssize_t write(int fd, const void* buffer, size_t size) {
    REAL("write", WriteFn);
    tick();
    return real(fd, buffer, size);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    REAL("pwrite", PwriteFn);
    tick();
    return real(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off_t offset) {
    REAL("pwrite64", PwriteFn);
    tick();
    return real(fd, buffer, size, offset);
}

int ftruncate(int fd, off_t length) {
    REAL("ftruncate", TruncateFn);
    tick();
    return real(fd, length);
}

int ftruncate64(int fd, off_t length) {
    REAL("ftruncate64", TruncateFn);
    tick();
    return real(fd, length);
}

int fsync(int fd) {
    REAL("fsync", SyncFn);
    tick();
    return real(fd);
}

int fdatasync(int fd) {
    REAL("fdatasync", SyncFn);
    tick();
    return real(fd);
}

int unlink(const char* path) {
    REAL("unlink", UnlinkFn);
    tick();
    return real(path);
}

int unlinkat(int dir, const char* path, int flags) {
    REAL("unlinkat", UnlinkatFn);
    tick();
    return real(dir, path, flags);
}

__attribute__((destructor)) static void shimReport(void) {
    const char* path = getenv("QMX_COUNT_FILE");
    if (!path)
        return;
    FILE* out = fopen(path, "w");
    if (!out)
        return;
    fprintf(out, "%lld\n", (long long)atomic_load(&s_calls));
    fclose(out);
}
