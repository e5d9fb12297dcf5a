/*
 * POSIX implementation of the platform layer.
 */
#include "platform/platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <zep/error.h>

namespace zep::platform {

struct Mutex {
    pthread_mutex_t m;
};

Mutex *mutex_create()
{
    auto *mx = static_cast<Mutex *>(ERR_malloc(sizeof(Mutex)));
    if (!mx) return nullptr;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(&mx->m, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        ERR_free(mx);
        return nullptr;
    }
    return mx;
}

void mutex_lock(Mutex *m) { pthread_mutex_lock(&m->m); }

void mutex_unlock(Mutex *m) { pthread_mutex_unlock(&m->m); }

void mutex_destroy(Mutex *m)
{
    if (!m) return;
    pthread_mutex_destroy(&m->m);
    ERR_free(m);
}

void *module_symbol(void *module, const char *name)
{
    if (!module || !name) return nullptr;
    dlerror();
    return dlsym(module, name);
}

/* Copies text into buffer, cut to fit. */
static int copy_name(char *buffer, size_t size, const char *text)
{
    if (size == 0) return -1;
    if (!text || !*text) {
        buffer[0] = '\0';
        return -1;
    }
    snprintf(buffer, size, "%s", text);
    return 0;
}

int user_name(char *buffer, size_t size)
{
    char store[1024];
    struct passwd pw;
    struct passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, store, sizeof store, &found) == 0 && found)
        return copy_name(buffer, size, found->pw_name);
    return copy_name(buffer, size, getlogin());
}

int host_name(char *buffer, size_t size)
{
    char name[256];
    if (gethostname(name, sizeof name) != 0) return copy_name(buffer, size, nullptr);
    name[sizeof name - 1] = '\0';
    return copy_name(buffer, size, name);
}

uint32_t tick_count()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void fatal_box(const char *caption, const char *text)
{
    fprintf(stderr, "%s: %s", caption, text);
    size_t n = strlen(text);
    if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
    fflush(stderr);
}

const char *errno_text(int e)
{
    /* strerrordesc_np knows exactly which numbers have a text. */
    return strerrordesc_np(e);
}

} // namespace zep::platform
