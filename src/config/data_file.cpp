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

bool DATA_FILE::write_out()
{
    const char *at = buffer.constData();
    qint64 left = buffer.size();
    while (left > 0 && !failed) {
        const ssize_t n = write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        failed = n <= 0;
        at += n > 0 ? n : 0;
        left -= n > 0 ? n : 0;
    }
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
