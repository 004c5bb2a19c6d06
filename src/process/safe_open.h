#ifndef STRANDOR_PROCESS_SAFE_OPEN_H
#define STRANDOR_PROCESS_SAFE_OPEN_H

#include <QByteArray>

#include <sys/stat.h>

// The input, output, archive, quarantine and metrics directories are often writable by
// other accounts: a file strandor opens there is never reached through a planted link,
// never a FIFO or device, and a file it creates is its own.

/// Returns fd if it is open on a regular file; otherwise closes it and returns -1 with
/// errno NOT_REGULAR_FILE.
int checked_regular(int fd);
/// Creates path exclusively (O_EXCL, no link followed) for writing, with mode less the umask.
int create_new(const QByteArray &path, mode_t mode = 0666);
/// Opens an existing regular file for reading without waiting for a writer (a FIFO, or a
/// link to one, would block for ever); a link in its place is followed only if asked.
int open_existing(const QByteArray &path, bool follow_link = false);

/// What identifies an input file: a new file under the same name differs in one of them.
struct FILE_IDENTITY {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime_ns = 0;

    static FILE_IDENTITY of(const struct stat &st);
    bool operator==(const FILE_IDENTITY &other) const;
    /// "device,inode,size,mtime" and back; false for any other text.
    QByteArray text() const;
    bool parse(const QByteArray &text);
};

/// Whether the path (links followed, as the input was opened) still names that file.
bool still_names(const QByteArray &path, const FILE_IDENTITY &identity);

#endif
