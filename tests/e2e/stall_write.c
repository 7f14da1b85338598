/* A slow disk on demand, for the real program under Wine: preloaded into the Wine process, it
 * holds up every write to a file whose name ends in $VOXTREL_STALL_NAME for as long as the file
 * $VOXTREL_STALL_FLAG exists, as a USB stick, a network folder or a virus scanner would.
 * Wine's NtWriteFile ends in pwrite (or write), so those are the calls held. Built by the e2e
 * script with the native compiler: cc -shared -fPIC -o stall_write.so stall_write.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

/* Returns 1 when fd is open on a file whose path ends in the held name. */
static int heldFile(int fd) {
    const char* name = getenv("VOXTREL_STALL_NAME");
    if (!name || !*name) return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = '\0';
    const size_t nameLength = strlen(name);
    return (size_t)length >= nameLength && strcmp(path + length - nameLength, name) == 0;
}

/* Waits while the flag file exists, when fd is the held file. */
static void holdWhileFlagged(int fd) {
    const char* flag = getenv("VOXTREL_STALL_FLAG");
    if (!flag || !heldFile(fd)) return;
    while (access(flag, F_OK) == 0) usleep(10000);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    holdWhileFlagged(fd);
    return real(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
    holdWhileFlagged(fd);
    return real(fd, buffer, count, offset);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    holdWhileFlagged(fd);
    return real(fd, buffer, count);
}
