#include "move_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <unistd.h>

#include "elog.h"
#include "file_path.h"
#include "publication.h"

bool move_into(const QString &path, const QString &directory)
{
    const QString source = QDir::cleanPath(path);
    const QString target = QDir::cleanPath(join_path(directory, source.mid(source.lastIndexOf('/') + 1)));
    const QByteArray from = QFile::encodeName(source);
    QString name = target;
    // Bounded, so that a directory full of one name cannot keep a run busy.
    for (int n = 1; n <= 10000; ++n) {
        if (rename_no_replace(from, QFile::encodeName(name)) == 0) {
            elog.log(QString("INFO: %1 moved to %2\n").arg(source, name));
            return true;
        }
        if (errno != EEXIST)
            break;
        name = target + "." + QString::number(n);
    }
    const int err = errno;
    elog.log(QString("ERROR: could not move file %1 to %2\n").arg(source, directory));
    log_reason(err);
    return false;
}

bool delete_file(const QString &path)
{
    if (unlink(QFile::encodeName(path).constData()) == 0)
        return true;
    const int err = errno;
    elog.log(QString("ERROR: could not delete file %1\n").arg(path));
    log_reason(err);
    return false;
}
