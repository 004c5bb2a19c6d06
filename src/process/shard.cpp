#include "shard.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "data_file.h"
#include "safe_open.h"
#include "elog.h"
#include "file_path.h"
#include "exit_status.h"
#include "gl_param.h"

static QString run_id; // read from or written to the lock file

quint32 fnv1a_32(const QByteArray &bytes)
{
    quint32 hash = 2166136261u;
    for (char c : bytes) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return hash;
}

bool in_own_shard(const QString &file_name)
{
    return fnv1a_32(QFile::encodeName(file_name)) % GL_param.shard_count == GL_param.shard_index;
}

static QString shard_name()
{
    return QString("%1of%2").arg(GL_param.shard_index).arg(GL_param.shard_count);
}

/// The host name as it may stand in a file name.
static QString host_name()
{
    static QString host;
    if (host.isEmpty()) {
        char buffer[256] = {};
        gethostname(buffer, sizeof buffer - 1);
        // Cut short so that temporary names stay well below the 255 bytes of a name.
        host = QString::fromLatin1(buffer).left(32);
        // By hand: a regular expression would be compiled again in each worker.
        for (QChar &c : host) {
            const char l = c.toLatin1();
            if (!((l >= 'A' && l <= 'Z') || (l >= 'a' && l <= 'z') || (l >= '0' && l <= '9') || l == '.' || l == '_' || l == '-'))
                c = '_';
        }
        if (host.isEmpty())
            host = "localhost";
    }
    return host;
}

QString process_tag(long pid)
{
    return host_name() + "." + shard_name() + "." + run_id + "." + QString::number(pid);
}

QString process_tag_pattern(long pid)
{
    const QString tail = "\\." + shard_name() + "\\." + run_id + "\\.";
    if (pid < 0)
        return ".+" + tail + "[0-9]+";
    return QRegularExpression::escape(host_name()) + tail + QString::number(pid);
}

/// The lock file, created if it is new, never through a link planted in its place, and
/// only if it is a regular file. 0666 less the umask: a group that shares the directory
/// shares the lock, instead of locking itself out.
static int open_lock_file(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(name.constData(), flags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST)
        fd = open(name.constData(), flags);
    return fd < 0 ? fd : checked_regular(fd);
}

/// The id of the input directory and shard: the one in the lock file, or a new one that
/// is written there. The caller holds the lock.
static bool take_id(int fd, const QString &path)
{
    static const QRegularExpression id_form(QStringLiteral("^[0-9a-f]{12}$"));
    char buffer[13] = {};
    if (pread(fd, buffer, 12, 0) == 12 && id_form.match(QString::fromLatin1(buffer)).hasMatch()) {
        run_id = QString::fromLatin1(buffer);
        return true;
    }
    run_id = QString("%1").arg(QRandomGenerator::system()->generate64() & 0xffffffffffffULL, 12, 16, QChar('0'));
    const QByteArray bytes = run_id.toLatin1();
    if (pwrite(fd, bytes.constData(), 12, 0) != 12 || ftruncate(fd, 12) != 0 || fsync(fd) != 0) {
        log_write_failed(path, errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

int lock_shard()
{
    const QString shard = shard_name();
    QString path = join_path(GL_param.input_path, ".strandor." + shard + ".lock");
    int fd = open_lock_file(path);
    if (fd < 0 && errno == EROFS) {
        // An input directory on a read-only file system (its files are kept): the lock goes
        // to the output directory, under a name that stands for the input directory. Any
        // other failure ends the run: two runs with different locks would convert at once.
        const QByteArray input = QFile::encodeName(QFileInfo(GL_param.input_path).canonicalFilePath());
        path = join_path(GL_param.output_path, QString(".strandor.%1.%2.lock").arg(fnv1a_32(input), 8, 16, QChar('0')).arg(shard));
        fd = open_lock_file(path);
    }
    if (fd < 0) {
        elog.log(QString("ERROR: could not open lock file %1: %2\n").arg(path, strerror(errno)));
        return exit_status::FAILED;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int rc = fcntl(fd, F_OFD_SETLK, &lock);
    if (rc != 0 && errno == EINVAL)
        rc = fcntl(fd, F_SETLK, &lock); // no OFD locks: held by this process alone
    if (rc != 0 && (errno == EAGAIN || errno == EACCES)) {
        elog.log(QString("ERROR: another strandor run is converting shard %1/%2 of %3 - aborting\n")
                     .arg(GL_param.shard_index)
                     .arg(GL_param.shard_count)
                     .arg(GL_param.input_path));
        return exit_status::SHARD_BUSY;
    }
    if (rc != 0) {
        elog.log(QString("ERROR: could not lock %1: %2\n").arg(path, strerror(errno)));
        return exit_status::FAILED;
    }
    // The descriptor stays open for the life of the run, and the workers inherit it.
    return take_id(fd, path) ? 0 : int(exit_status::FAILED);
}
