#include "data_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "elog.h"

DATA_FILE::DATA_FILE(int fd) : fd(fd), buffer(new char[CAPACITY + VALUE::SLACK]) {}

DATA_FILE::~DATA_FILE()
{
    if (fd >= 0)
        close(fd);
}

void DATA_FILE::append_large(const char *data, size_t size)
{
    write_bytes(buffer.get(), used);
    used = 0;
    // A value larger than the buffer goes out as it stands instead of being copied.
    if (size >= CAPACITY) {
        write_bytes(data, size);
    } else {
        memcpy(buffer.get(), data, size);
        used = size;
    }
}

void DATA_FILE::write_bytes(const char *data, size_t size)
{
    while (size > 0 && !failed) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        failed = n <= 0;
        if (failed)
            error_number = n < 0 ? errno : EIO;
        data += n > 0 ? n : 0;
        size -= n > 0 ? size_t(n) : 0;
        written += n > 0 ? n : 0;
    }
    // Writeback starts while the parse goes on, so that the final fsync of a large
    // output has little left to wait for.
    if (written - flushing >= WRITEBACK_SIZE) {
        sync_file_range(fd, flushing, written - flushing, SYNC_FILE_RANGE_WRITE);
        flushing = written;
    }
}

bool DATA_FILE::finish()
{
    write_bytes(buffer.get(), used);
    used = 0;
    bool ok = !failed && fsync(fd) == 0;
    if (!failed && !ok)
        error_number = errno;
    if (close(fd) != 0 && ok) {
        error_number = errno;
        ok = false;
    }
    fd = -1;
    return ok;
}

void log_write_failed(const QString &path, int err)
{
    elog.log(QString("ERROR: could not write file %1\n").arg(path));
    log_reason(err);
}
