#ifndef STRANDOR_DRIVER_WORKER_POOL_H
#define STRANDOR_DRIVER_WORKER_POOL_H

/// Starts workers until the pool is full or the list is exhausted.
void fork_new_process();
void sigchld_handler(int sig);
[[noreturn]] void exit_program();

/// Counts a reaped worker by its wait status; true when it succeeded.
bool count_worker(int pid, int status);

#endif
