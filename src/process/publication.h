#ifndef STRANDOR_PROCESS_PUBLICATION_H
#define STRANDOR_PROCESS_PUBLICATION_H

#include <QByteArray>
#include <QString>
#include <QList>
#include <QPair>
#include <QStringList>

#include "safe_open.h"

class ATTRIBUTE;

// Output is written under hidden temporary names and published by a rename that never
// replaces a file, with a journal that lets the next run finish a publication that a
// kill interrupted.

/// Hidden name in the output directory under which a worker writes a file before publishing it.
QString temporary_name(const QString &final_name, long pid);
/// rename() that fails with EEXIST instead of replacing an existing file.
int rename_no_replace(const QByteArray &from, const QByteArray &to);
/// Syncs the directory that holds the file at path.
bool sync_directory(const QString &path);
/// "already exists": an output file of that name is in the way.
void log_exists(const QString &path);
/// The input's name now names another file, which the next run converts.
void log_replaced(const QString &file_name);

/// The journal of a publication: written before the first output file is moved to its
/// final name, removed when the input file is gone, so that a worker killed in between
/// leaves a record from which the next run finishes its work. An input that goes is
/// removed, or moved to archive when that is not empty, and only while its name still
/// names the file of that identity.
int write_journal(ATTRIBUTE *inputfile, const QString &file_name, const FILE_IDENTITY &identity,
                  bool remove_input, const QString &archive, const QStringList &in_place);
void remove_journal();

/// What a journal asks for, once every name in it has been checked.
struct JOURNAL {
    QByteArray fate;
    QByteArray input;
    bool has_identity = false;
    FILE_IDENTITY identity;
    /// The temporary and the final name of each output file, in the output directory.
    QList<QPair<QByteArray, QByteArray>> outputs;
    QString archive;
};

/// Reads the journal of the process tagged tag. Anyone who can write the output directory
/// can plant one: every name must be a plain file name, every temporary name the one that
/// process gives its final name, and an archive this run's. Empty, or why it is refused.
QString read_journal(const QString &path, const QString &tag, JOURNAL &j);
/// Finishes the publication of a dead worker of this run and removes its temporary files.
void recover_worker(long pid);
/// The same for every process of this input directory and shard, on any host. Only the
/// holder of the shard's lock may call it: no other such process is alive then.
void recover_leftovers();

#endif
