#ifndef STRANDOR_PARAMS_EXIT_STATUS_H
#define STRANDOR_PARAMS_EXIT_STATUS_H

/// Exit statuses of the program and of its workers; schedulers and scripts rely on them.
namespace exit_status {
enum : int {
    OK = 0,
    /// Some worker failed, the input directory is missing, or (for a worker) the
    /// conversion failed.
    FAILED = 1,
    CONFIG_UNREADABLE = 2,
    /// Another live run holds the lock of the input directory and shard.
    SHARD_BUSY = 3,
    BAD_COMMAND_LINE = 4,
    CONFIG_INVALID = 6,
    FORK_FAILED = 8,
    /// A worker's file matches no description.
    NO_DESCRIPTION = 22,
    /// A worker failed for a reason outside its file (no space, quota, I/O error, a
    /// read-only file system): the file is not quarantined.
    RETRY_LATER = 75,
};
} // namespace exit_status

#endif
