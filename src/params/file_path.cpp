#include "file_path.h"

#include <QFile>

#include <sys/stat.h>

QString join_path(const QString &directory, const QString &name)
{
    if (directory.isEmpty() || directory.endsWith('/'))
        return directory + name;
    return directory + '/' + name;
}

bool same_file(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return stat(QFile::encodeName(a).constData(), &sa) == 0 && stat(QFile::encodeName(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
