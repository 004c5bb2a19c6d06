#include "move_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "elog.h"
#include "file_path.h"
#include "publication.h"

OUTCOME move_into(const QString &path, const QString &directory)
{
    const QString source = QDir::cleanPath(path);
    const QString target = QDir::cleanPath(join_path(directory, source.mid(source.lastIndexOf('/') + 1)));
    const QByteArray from = QFile::encodeName(source);
    QString name = target;
    // Bounded, so that a directory full of one name cannot keep a run busy.
    for (int n = 1; n <= 10000; ++n) {
        if (rename_no_replace(from, QFile::encodeName(name)) == 0) {
            elog.log(QString("INFO: %1 moved to %2\n").arg(source, name));
            return OUTCOME::done();
        }
        if (errno != EEXIST)
            break;
        name = target + "." + QString::number(n);
    }
    const int err = errno;
    elog.log(QString("ERROR: could not move file %1 to %2\n").arg(source, directory));
    log_reason(err);
    return OUTCOME::failed(err);
}

/// Creates each folder of relative below directory that is missing; one that is there must
/// be a directory itself, not a link that could lead the move elsewhere.
static OUTCOME make_folders(const QString &directory, const QString &relative)
{
    QString path = directory;
    for (const QString &folder : relative.split('/', Qt::SkipEmptyParts)) {
        path = join_path(path, folder);
        const QByteArray name = QFile::encodeName(path);
        struct stat st;
        if (mkdir(name.constData(), 0777) == 0 || (errno == EEXIST && lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode)))
            continue;
        const int err = errno == EEXIST ? ENOTDIR : errno;
        elog.log(QString("ERROR: could not create folder %1\n").arg(path));
        log_reason(err);
        return OUTCOME::failed(err);
    }
    return OUTCOME::done();
}

OUTCOME move_keeping_path(const QString &root, const QString &relative, const QString &directory)
{
    const int slash = relative.lastIndexOf('/');
    if (slash < 0)
        return move_into(join_path(root, relative), directory);
    const QString folders = relative.left(slash);
    const OUTCOME made = make_folders(directory, folders);
    return made.ok() ? move_into(join_path(root, relative), join_path(directory, folders)) : made;
}

OUTCOME delete_file(const QString &path)
{
    if (unlink(QFile::encodeName(path).constData()) == 0)
        return OUTCOME::done();
    const int err = errno;
    elog.log(QString("ERROR: could not delete file %1\n").arg(path));
    log_reason(err);
    return OUTCOME::failed(err);
}
