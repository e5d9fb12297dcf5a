/*
 * The platform layer: the few operating-system services the library needs,
 * behind one small interface. This is the only part of the library that
 * includes the POSIX headers for them.
 *
 *   mutexes    recursive, so the owning thread may lock again
 *   modules    symbol lookup on a handle the application got from dlopen
 *   identity   user and host names
 *   clock      a wrapping 32-bit count of monotonic milliseconds
 *   fatal      the "Fatal Error" box: standard error, then abort
 *   errors     the system's text for an error number
 */
#ifndef ZEP_SRC_PLATFORM_PLATFORM_H
#define ZEP_SRC_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

namespace zep::platform {

struct Mutex; /* opaque */

/* A new unlocked recursive mutex; null when memory runs out (reported). */
Mutex *mutex_create();
/* Waits without limit for the mutex; the owner may lock it again. */
void mutex_lock(Mutex *m);
void mutex_unlock(Mutex *m);
/* Frees an unlocked mutex; null is ignored. */
void mutex_destroy(Mutex *m);

/* Holds a mutex for the life of the guard; a null mutex is not locked. */
class MutexGuard {
  public:
    explicit MutexGuard(Mutex *m) : m_(m)
    {
        if (m_) mutex_lock(m_);
    }
    ~MutexGuard()
    {
        if (m_) mutex_unlock(m_);
    }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;

  private:
    Mutex *m_;
};

/* The address of the exported symbol name of module (a dlopen handle), or
 * null when the module has no such symbol. */
void *module_symbol(void *module, const char *name);

/* Write the current user's login name, or the machine's host name, into
 * buffer (size bytes, always terminated when size > 0). Return 0, or -1 when
 * the name is unknown (buffer then holds an empty text). */
int user_name(char *buffer, size_t size);
int host_name(char *buffer, size_t size);

/* Milliseconds of a monotonic clock, wrapping at 2^32. */
uint32_t tick_count();

/* Shows the fatal-error box: writes "caption: text" to standard error. */
void fatal_box(const char *caption, const char *text);

/* The system's message for error number e, or null when e has none. */
const char *errno_text(int e);

} // namespace zep::platform

#endif // ZEP_SRC_PLATFORM_PLATFORM_H
