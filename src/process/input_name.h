#ifndef STRANDOR_PROCESS_INPUT_NAME_H
#define STRANDOR_PROCESS_INPUT_NAME_H

#include <QDateTime>
#include <QString>

/// The time stamp that an input file's name carries: the last "_yyyyMMdd_hhmm" group, or
/// else the begin of a 3GPP TS 32.432 name ("A20220418.1900+0200-1915+0200_node.xml").
/// The digits are taken as written, in the sender's local time, and held with Qt::UTC
/// only so that no zone rule (a summer-time gap) can make them invalid. Invalid when the
/// name holds neither form or names an impossible date or time.
QDateTime stamp_from_name(const QString &file_name);

/// The name less a final ".gz" and then less its last extension: what "%5" in a file
/// mask stands for.
QString source_stem(const QString &file_name);

#endif
