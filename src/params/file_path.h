#ifndef STRANDOR_PARAMS_FILE_PATH_H
#define STRANDOR_PARAMS_FILE_PATH_H

#include <QString>

/// The path of name inside directory. A directory given on the command line carries a
/// trailing slash and the defaults do not: either way the name lands inside it.
QString join_path(const QString &directory, const QString &name);
/// Whether both paths exist and name the same file (device and inode).
bool same_file(const QString &a, const QString &b);

#endif
