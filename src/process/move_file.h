#ifndef STRANDOR_PROCESS_MOVE_FILE_H
#define STRANDOR_PROCESS_MOVE_FILE_H

#include <QString>

#include "outcome.h"

/// Moves the file at path into directory by rename(), keeping its name, and never replaces
/// a file there: on a clash the name gains ".1", ".2" and so on. Logs "moved to", or the
/// failure with its reason.
OUTCOME move_into(const QString &path, const QString &directory);
/// Moves root/relative into directory at the same relative path, creating the folders it
/// needs there (none through a link): an input tree keeps its shape in the archive.
OUTCOME move_keeping_path(const QString &root, const QString &relative, const QString &directory);
/// Removes the file at path; logs "could not delete file" and the reason when it stays.
OUTCOME delete_file(const QString &path);

#endif
