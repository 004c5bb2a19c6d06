#ifndef STRANDOR_PROCESS_PROCESS_FILE_H
#define STRANDOR_PROCESS_PROCESS_FILE_H

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "input_fate.h"
#include "outcome.h"
#include "output_sink.h"

class DESCRIPTIONS;
struct DESCRIPTION;

/// What every conversion of a run shares, decided once before the first worker.
struct CONVERSION_SETUP {
    const DESCRIPTIONS *descriptions = nullptr;
    INPUT_FATE fate;
    /// Makes the sink of one file's records: its destination.
    std::function<std::unique_ptr<OUTPUT_SINK>(const INPUT_FATE &)> destination;
};

/// Converts one input file inside one worker process.
class PROCESS_FILE {
public:
    explicit PROCESS_FILE(const CONVERSION_SETUP &setup);

    /// 0 converted, 1 failed, 22 no description matches the file name, 75 failed for a
    /// reason outside the file.
    int start(QString input_directory, QString file_name);
    /// Logs what start() would do with the file: its description, stamp and outputs,
    /// adding the output files to outputs. 0, 22 when no description matches, 1 when its
    /// outputs cannot be named or two of its measurements would write one.
    int plan(const QString &input_directory, const QString &file_name, QStringList *outputs);
    int find_current_inputfile(QString file_name);

    /// The exit status of a conversion that ended so: 1 when the file is at fault (it is
    /// quarantined with -e), 75 when the reason lies outside it (no space, quota, an I/O
    /// error, a read-only file system, a database outage): it stays for the next run.
    static int status_of(const OUTCOME &outcome);

private:
    void take_names(const QString &input_directory, const QString &file_name);
    /// The stamp from the chosen description's STAMP, else from the name, else the time.
    void set_file_time(const QString &file_name, int fd, const DESCRIPTION *chosen);
    /// The description whose pattern matches the name, found without a word logged.
    const DESCRIPTION *matching(const QString &file_name) const;
    QDateTime configured_stamp(const DESCRIPTION &chosen, const QString &file_name, int fd);
    /// Where the stamp came from, for the dry run: an attribute, the pattern, the name.
    QString stamp_origin;
    /// Removes the converted input, or moves it to the archive, as the run decided.
    OUTCOME release_input();

    const CONVERSION_SETUP &setup;
    QString input_directory;
    /// The description chosen for the file.
    const DESCRIPTION *description = nullptr;
    INPUT_FILE input;
};

#endif
