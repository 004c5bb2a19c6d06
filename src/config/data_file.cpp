#include "data_file.h"

#include <cerrno>
#include <unistd.h>

#include "elog.h"

DATA_FILE::DATA_FILE(int fd) : fd(fd)
{
    buffer.reserve(FLUSH_SIZE + 4096);
}

DATA_FILE::~DATA_FILE()
{
    if (fd >= 0)
        close(fd);
}

void DATA_FILE::append(const char *data, int size)
{
    // A value larger than the buffer goes out as it stands instead of being copied.
    if (size >= FLUSH_SIZE) {
        write_out();
        write_bytes(data, size);
    } else {
        buffer.append(data, size);
    }
}

void DATA_FILE::write_bytes(const char *data, qint64 size)
{
    while (size > 0 && !failed) {
        const ssize_t n = write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        failed = n <= 0;
        data += n > 0 ? n : 0;
        size -= n > 0 ? n : 0;
    }
}

bool DATA_FILE::write_out()
{
    write_bytes(buffer.constData(), buffer.size());
    buffer.resize(0);
    return !failed;
}

bool DATA_FILE::finish()
{
    bool ok = write_out() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    fd = -1;
    return ok;
}

void log_write_failed(const QString &path)
{
    elog.log(QString("ERROR: could not write file %1\n").arg(path));
}
