#include "worker_pool.h"

#include <QFile>
#include <QHash>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "elog.h"
#include "file_path.h"
#include "exit_status.h"
#include "gl_param.h"
#include "move_file.h"
#include "process_file.h"
#include "publication.h"
#include "run_metrics.h"

static QHash<pid_t, QString> workers; // running, with their input files
/// What each worker's conversion is given, set once before the first fork.
static const CONVERSION_SETUP *conversion = nullptr;

void start_pool(const CONVERSION_SETUP &setup)
{
    conversion = &setup;
    fork_new_process();
}

static sigset_t pool_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGCHLD, SIGTERM, SIGINT})
        sigaddset(&set, sig);
    return set;
}

void set_pool_signals_blocked(bool blocked)
{
    const sigset_t set = pool_signals();
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

/// The machine's memory, or its container's memory.max if that is lower; 0 when unknown.
/// Found once by the parent, so that a worker reads no file for it.
static rlim_t memory_ceiling()
{
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0)
        return 0;
    rlim_t ceiling = rlim_t(pages) * rlim_t(page);
    QFile cgroup("/sys/fs/cgroup/memory.max");
    bool number = false;
    const rlim_t container = cgroup.open(QIODevice::ReadOnly) ? cgroup.readAll().trimmed().toULongLong(&number) : 0;
    if (number && container > 0 && container < ceiling)
        ceiling = container;
    return ceiling;
}

/// A worker that needs more than its share of the machine's memory (or its container's): the
/// whole divided by the workers that may run at once (-t), fails its file with "out of
/// memory" rather than being killed by the kernel, which would leave the file to fail the
/// same way on every run, and take the other workers' files with it. Only ever lowered; the
/// sanitizers' shadow memory alone exceeds any such limit.
static void limit_worker_memory(rlim_t ceiling)
{
#if !defined(__SANITIZE_ADDRESS__)
    rlimit limit;
    if (ceiling == 0 || getrlimit(RLIMIT_DATA, &limit) != 0)
        return;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > ceiling) {
        limit.rlim_cur = ceiling;
        setrlimit(RLIMIT_DATA, &limit);
    }
#else
    (void)ceiling;
#endif
}

[[noreturn]] static void run_worker(PROCESS_FILE &worker, rlim_t memory)
{
    // A worker stops at once when told to; the parent reaps it and cleans up after it.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    set_pool_signals_blocked(false);
    GL_param.mypid = getpid();
    const QString file_name = GL_param.input_files.at(GL_param.last_file_index);
    elog.log("INFO: processing file = " + file_name + "\n");
    limit_worker_memory(memory);
    int result;
    try {
        result = worker.start(GL_param.input_path, file_name);
    } catch (const std::bad_alloc &) {
        elog.log("ERROR: out of memory\n");
        recover_worker(getpid()); // what this worker left: a begun publication is finished
        result = exit_status::FAILED;
    }
    elog.debug(1, QString("Info: Process %1 will finish work and was happy to work for you :-)\n")
                      .arg(getpid()));
    // Without the destructors of the parent's state: freeing the listing would copy its
    // shared pages, a cost that grows with the number of files listed.
    fflush(nullptr);
    _exit(result);
}

void fork_new_process()
{
    elog.debug(3, "CALLED: fork_new_process()\n");
    // The first call is main's, before any worker.
    static const rlim_t memory = memory_ceiling() / rlim_t(GL_param.parallel_processes);
    for (;;) {
        if (GL_param.processes_running >= GL_param.parallel_processes)
            return;
        if (GL_param.last_file_index + 1 >= GL_param.input_files.count()) {
            elog.debug(1, QString("INFO: no more files to process running: %1\n")
                              .arg(GL_param.processes_running));
            if (GL_param.processes_running != 0)
                return;
            exit_program();
        }
        GL_param.last_file_index += 1;
        PROCESS_FILE worker(*conversion);
        const pid_t pid = fork();
        if (pid == -1) {
            elog.log("ERROR: fork() failed - aborting\n");
            end_run(exit_status::FORK_FAILED);
        }
        if (pid == 0)
            run_worker(worker, memory);
        workers.insert(pid, GL_param.input_files.at(GL_param.last_file_index));
        GL_param.input_bytes += GL_param.input_sizes.value(GL_param.last_file_index);
        GL_param.processes_running += 1;
        GL_param.processes_started += 1;
        elog.debug(1, QString("Info: Process %1 forked child %2\n").arg(getpid()).arg(pid));
    }
}

/// A failed input would fail again on every run and hide new failures: it is moved aside
/// once its worker has ended and its output is gone.
static void quarantine(const QString &file_name)
{
    const QString path = join_path(GL_param.input_path, file_name);
    if (!GL_param.quarantine_path.isEmpty() && QFile::exists(path)
        && move_keeping_path(GL_param.input_path, file_name, GL_param.quarantine_path))
        GL_param.files_quarantined += 1;
}

/// The failed files of the run, as the summary lists them: the first few, and how many.
static const int LISTED_FAILURES = 20;
static QStringList failures;
static int failure_count = 0;

static void note_failure(const QString &file_name, int status)
{
    if (failure_count++ < LISTED_FAILURES)
        failures << QString("INFO: failed: %1 (status %2)\n").arg(file_name).arg(status);
}

bool count_worker(int pid, int status, const QString &file_name)
{
    const int code = (status >> 8) & 0xff;
    bool succeeded = false;
    if (status & 0x80) {
        elog.log(QString("ERROR: Prozess %1 abgebrochen mit status %2 - CORE dump\n").arg(pid).arg(code));
    } else if (WIFSIGNALED(status)) {
        // A signal without core dump leaves exit code 0; that is no success.
        elog.log(QString("ERROR: Prozess %1 abgebrochen durch Signal %2\n").arg(pid).arg(WTERMSIG(status)));
    } else {
        succeeded = code == 0;
        if (code == exit_status::RETRY_LATER)
            elog.log(QString("INFO: %1 stays for the next run: its conversion failed for a reason outside the file\n").arg(file_name));
        if (code == exit_status::NO_DESCRIPTION)
            GL_param.files_no_description += 1;
        if (code == exit_status::FAILED || code == exit_status::NO_DESCRIPTION)
            quarantine(file_name);
    }
    // A killed worker may have left temporary files, or a publication half done.
    if (WIFSIGNALED(status))
        recover_worker(pid);
    if (succeeded) {
        GL_param.processes_succeeded += 1;
    } else {
        GL_param.processes_failed += 1;
        // A signal's death reads as the shell shows it.
        note_failure(file_name, WIFSIGNALED(status) ? 128 + WTERMSIG(status) : code);
    }
    return succeeded;
}

void sigchld_handler(int)
{
    set_pool_signals_blocked(true);
    elog.debug(3, "CALLED: sigchld_handler()\n");
    const int saved_errno = errno;
    int status = 0;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    while (pid > 0) {
        count_worker(pid, status, workers.take(pid));
        elog.debug(1, QString("INFO: Process %1 gestorben mit return Wert %2 und beerdigt\n")
                          .arg(pid)
                          .arg((status >> 8) & 0xff));
        GL_param.processes_running -= 1;
        fork_new_process();
        pid = waitpid(-1, &status, WNOHANG);
    }
    if (pid < 0)
        elog.log("ERROR: in waitpid()\n");
    errno = saved_errno;
    set_pool_signals_blocked(false);
}

void install_sigchld_handler()
{
    struct sigaction action = {};
    action.sa_handler = sigchld_handler;
    action.sa_mask = pool_signals();
    sigaction(SIGCHLD, &action, nullptr);
}

static void log_summary()
{
    for (const QString &line : failures)
        elog.log(line);
    if (failure_count > LISTED_FAILURES)
        elog.log(QString("INFO: ... and %1 more failed files\n").arg(failure_count - LISTED_FAILURES));
    elog.log("Info: Main Program terminated\n");
    elog.log(QString("Info (%1/%2) Prozesse erfolgreich konvertiert\n")
                 .arg(GL_param.processes_succeeded)
                 .arg(GL_param.processes_started));
}

void exit_program()
{
    log_summary();
    const bool all = GL_param.processes_succeeded == GL_param.processes_started && GL_param.folders_unread == 0;
    end_run(all ? exit_status::OK : exit_status::FAILED);
}

[[noreturn]] static void terminate_handler(int sig)
{
    elog.log(QString("ERROR: stopped by signal %1 - stopping %2 workers\n").arg(sig).arg(workers.size()));
    for (pid_t pid : workers.keys()) {
        kill(pid, SIGTERM);
        kill(pid, SIGCONT); // a stopped worker would never end
    }
    int status = 0;
    pid_t pid;
    while (!workers.isEmpty() && (pid = waitpid(-1, &status, 0)) > 0) {
        count_worker(pid, status, workers.take(pid));
        GL_param.processes_running -= 1;
    }
    log_summary();
    write_run_metrics(128 + sig);
    // Ends by the signal itself, as callers of a stopped program expect.
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

void install_terminate_handler()
{
    struct sigaction action = {};
    action.sa_handler = terminate_handler;
    action.sa_mask = pool_signals();
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
