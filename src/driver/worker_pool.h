#ifndef STRANDOR_DRIVER_WORKER_POOL_H
#define STRANDOR_DRIVER_WORKER_POOL_H

#include <QString>

struct CONVERSION_SETUP;

/// Fills the pool with workers that convert with setup, which must live as long as the run.
void start_pool(const CONVERSION_SETUP &setup);
/// Starts workers until the pool is full or the list is exhausted.
void fork_new_process();
void sigchld_handler(int sig);
/// Installs sigchld_handler with the pool's other signals blocked while it runs.
void install_sigchld_handler();
[[noreturn]] void exit_program();
/// Blocks or unblocks the signals whose handlers run the pool: SIGCHLD, SIGTERM, SIGINT.
void set_pool_signals_blocked(bool blocked);
/// On SIGTERM and SIGINT the run stops its workers, reaps them (their leftovers are cleaned
/// up), logs its summary, writes its metrics and ends by the signal. The signals stay
/// blocked until the pool runs.
void install_terminate_handler();

/// Counts a reaped worker of the input file_name by its wait status, and quarantines the
/// input of a failed one; true when it succeeded.
bool count_worker(int pid, int status, const QString &file_name);

#endif
