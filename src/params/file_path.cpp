#include "file_path.h"

QString join_path(const QString &directory, const QString &name)
{
    if (directory.isEmpty() || directory.endsWith('/'))
        return directory + name;
    return directory + '/' + name;
}
