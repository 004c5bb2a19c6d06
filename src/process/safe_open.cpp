#include "safe_open.h"

#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "elog.h"

int checked_regular(int fd)
{
    struct stat st;
    if (fd < 0 || (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)))
        return fd;
    close(fd);
    errno = NOT_REGULAR_FILE;
    return -1;
}

int create_new(const QByteArray &path, mode_t mode)
{
    return open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

int open_existing(const QByteArray &path, bool follow_link)
{
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW);
    const int fd = checked_regular(open(path.constData(), flags));
    if (fd >= 0)
        fcntl(fd, F_SETFL, 0);
    return fd;
}

FILE_IDENTITY FILE_IDENTITY::of(const struct stat &st)
{
    FILE_IDENTITY id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtime_ns = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

bool FILE_IDENTITY::operator==(const FILE_IDENTITY &other) const
{
    return device == other.device && inode == other.inode && size == other.size && mtime_ns == other.mtime_ns;
}

QByteArray FILE_IDENTITY::text() const
{
    return QByteArray::number(quint64(device)) + ',' + QByteArray::number(quint64(inode)) + ','
           + QByteArray::number(qint64(size)) + ',' + QByteArray::number(mtime_ns);
}

bool FILE_IDENTITY::parse(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split(',');
    bool ok[4] = {};
    if (parts.size() != 4)
        return false;
    device = dev_t(parts[0].toULongLong(&ok[0]));
    inode = ino_t(parts[1].toULongLong(&ok[1]));
    size = off_t(parts[2].toLongLong(&ok[2]));
    mtime_ns = parts[3].toLongLong(&ok[3]);
    return ok[0] && ok[1] && ok[2] && ok[3];
}

bool still_names(const QByteArray &path, const FILE_IDENTITY &identity)
{
    struct stat st;
    return stat(path.constData(), &st) == 0 && FILE_IDENTITY::of(st) == identity;
}
