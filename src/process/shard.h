#ifndef STRANDOR_PROCESS_SHARD_H
#define STRANDOR_PROCESS_SHARD_H

#include <QByteArray>
#include <QString>

// Instances that list one input directory split its files into shards, and a lock per
// input directory and shard lets one run at a time convert a shard. The lock belongs to an
// open file description that every worker inherits: it lasts until the last process of
// the run has ended, and no longer, on whichever host the run was.

/// FNV-1a, 32 bits. A file's shard is fnv1a_32(the bytes of its name) modulo the shard count.
quint32 fnv1a_32(const QByteArray &bytes);
/// Whether the input file of that name belongs to this run's shard.
bool in_own_shard(const QString &file_name);
/// Takes the lock of this run's input directory and shard. Returns 0, or logs why not and
/// returns the exit status.
int lock_shard();
/// "<host>.<K>of<N>.<id>.<pid>", the end of the names of a process's temporary files and
/// journal. The id, kept in the lock file, stands for the input directory and shard, so
/// that names differ across hosts, pid namespaces, shards and input directories.
QString process_tag(long pid);
/// A pattern for process_tag(pid) of this host, or for the tag of any process, on any
/// host, of this run's input directory and shard (pid < 0).
QString process_tag_pattern(long pid);

#endif
