#ifndef STRANDOR_PROCESS_PROCESS_FILE_H
#define STRANDOR_PROCESS_PROCESS_FILE_H

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "database.h"
#include "safe_open.h"

class ATTRIBUTE;
struct MEASUREMENT_PLAN;

/// Converts one input file inside one worker process.
class PROCESS_FILE {
public:
    PROCESS_FILE();

    /// 0 converted, 1 failed, 22 no description matches the file name.
    int start(QString input_directory, QString file_name);
    /// Logs what start() would do with the file: its description, stamp and output files,
    /// which it adds to outputs. 0, 22 when no description matches, 1 when its output files
    /// cannot be named or two of its measurements would write one.
    int plan(const QString &input_directory, const QString &file_name, QStringList *outputs);
    int find_current_inputfile(QString file_name);
    int open_output_files(ATTRIBUTE *inputfile);
    int close_output_files(ATTRIBUTE *inputfile);

    /// Moves the finished temporary files to their final names, never overwriting.
    int publish_output_files(ATTRIBUTE *inputfile);
    /// Removes every temporary file of the input and whatever was already published.
    void discard_output_files(ATTRIBUTE *inputfile, int published);

    /// The input file's path below the input directory, as messages show it, and its own
    /// name, which descriptions, stamps and output names take.
    QString source_name;
    QString base_name;
    /// The input file as it was opened: only that file is removed or archived.
    FILE_IDENTITY input_identity;
    /// The bytes of the output files, once closed.
    long long output_bytes = 0;
    /// Output files found in place with the bytes this conversion wrote: not published again.
    QStringList in_place;
    /// With -D: the connection, and the records of each measurement until they are copied.
    std::unique_ptr<DATABASE> database;
    std::vector<LOAD_PART> load_parts;

private:
    void roll_back(ATTRIBUTE *inputfile, int published);
    static bool has_measurements(const ATTRIBUTE *inputfile);
    QString output_file_name(const MEASUREMENT_PLAN &plan) const;
    void set_file_time(const QString &file_name);
    int finish(ATTRIBUTE *inputfile, const QString &input_name);
    int settle_existing(ATTRIBUTE *inputfile);
    void skip_empty_outputs(ATTRIBUTE *inputfile);
    void take_names(const QString &file_name);
    /// Whether the measurement's records are published (EMPTY_OUTPUTS SKIP passes over
    /// one that made none).
    static bool publishes(const MEASUREMENT_PLAN &plan);
    /// Removes the converted input, or moves it to the archive; at a debug level it stays.
    int release_input(const QString &input_name);
    int settle_loaded(const QString &input_name);
    int open_load_files(ATTRIBUTE *inputfile);
    int load_records(ATTRIBUTE *inputfile, const QString &input_name, long long records);
};

#endif
