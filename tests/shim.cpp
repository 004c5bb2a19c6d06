// Preloaded into strandor by the tests: fails or interrupts one system call of a worker at
// an exact moment, and can take RENAME_NOREPLACE away as NFS does.
//   STRANDOR_SHIM=CALL:N:ACTION  at the Nth CALL (fsync, link, rename, renameat2,
//   write, or COMMIT: a database commit) of a worker:
//     die      kill the whole run and the worker right before the call
//     kill     kill the worker right after the call
//     killrun  kill the whole run (the worker's parent) and the worker right after it
//     run      run the shell command STRANDOR_SHIM_RUN before the call
//     <errno>  fail the call with that errno
//   STRANDOR_SHIM_NO_NOREPLACE=1  renameat2 with flags fails with EINVAL
//   STRANDOR_SHIM_NO_OFD=1  fcntl(F_OFD_SETLK) fails with EINVAL, as on kernels before 3.15
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdarg>
#include <fcntl.h>
#include <dlfcn.h>
#include <unistd.h>

static pid_t main_pid = getpid(); // set at each exec; a worker is a fork
static int calls;

template <class Call>
static int hook(const char *name, Call real)
{
    char call[32], action[32];
    int n = 0;
    const char *spec = getenv("STRANDOR_SHIM");
    if (!spec || getpid() == main_pid || sscanf(spec, "%31[^:]:%d:%31s", call, &n, action) != 3
        || strcmp(call, name) != 0 || ++calls != n)
        return real();
    if (strcmp(action, "run") == 0 && system(getenv("STRANDOR_SHIM_RUN")) != 0)
        fprintf(stderr, "shim: command failed\n");
    if (strcmp(action, "die") == 0) {
        kill(getppid(), SIGKILL);
        raise(SIGKILL);
    }
    if (action[0] >= '0' && action[0] <= '9') {
        errno = atoi(action);
        return -1;
    }
    const int rc = real();
    if (strcmp(action, "killrun") == 0)
        kill(getppid(), SIGKILL);
    if (strncmp(action, "kill", 4) == 0)
        raise(SIGKILL);
    return rc;
}

template <class F>
static F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

extern "C" int fsync(int fd)
{
    return hook("fsync", [&] { return next<int (*)(int)>("fsync")(fd); });
}

extern "C" int link(const char *from, const char *to)
{
    return hook("link", [&] { return next<int (*)(const char *, const char *)>("link")(from, to); });
}

extern "C" ssize_t write(int fd, const void *data, size_t size)
{
    return hook("write", [&] { return int(next<ssize_t (*)(int, const void *, size_t)>("write")(fd, data, size)); });
}

extern "C" void *PQexec(void *connection, const char *query)
{
    void *result = nullptr;
    const auto real = [&] {
        result = next<void *(*)(void *, const char *)>("PQexec")(connection, query);
        return 0;
    };
    if (strcmp(query, "COMMIT") == 0)
        hook("COMMIT", real);
    else
        real();
    return result;
}

extern "C" int rename(const char *from, const char *to)
{
    return hook("rename", [&] { return next<int (*)(const char *, const char *)>("rename")(from, to); });
}

extern "C" int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned flags)
{
    if (flags != 0 && getenv("STRANDOR_SHIM_NO_NOREPLACE")) {
        errno = EINVAL;
        return -1;
    }
    return hook("renameat2", [&] {
        return next<int (*)(int, const char *, int, const char *, unsigned)>("renameat2")(from_dir, from, to_dir, to, flags);
    });
}

// fcntl takes one argument after the command; every command strandor uses passes a pointer or an int.
static int fcntl_hook(const char *name, int fd, int cmd, va_list ap)
{
    void *arg = va_arg(ap, void *);
    if (cmd == F_OFD_SETLK && getenv("STRANDOR_SHIM_NO_OFD")) {
        errno = EINVAL;
        return -1;
    }
    return next<int (*)(int, int, ...)>(name)(fd, cmd, arg);
}

extern "C" int fcntl(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    const int rc = fcntl_hook("fcntl", fd, cmd, ap);
    va_end(ap);
    return rc;
}

extern "C" int fcntl64(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    const int rc = fcntl_hook("fcntl64", fd, cmd, ap);
    va_end(ap);
    return rc;
}
