#ifndef STRANDOR_PROCESS_PROCESS_FILE_H
#define STRANDOR_PROCESS_PROCESS_FILE_H

#include <QString>

class ATTRIBUTE;
class QFile;

/// Converts one input file inside one worker process.
class PROCESS_FILE {
public:
    PROCESS_FILE();

    /// 0 converted, 1 failed, 22 no description matches the file name.
    int start(QString input_directory, QString file_name);
    int find_current_inputfile(QString file_name);
    int open_output_files(ATTRIBUTE *inputfile);
    int close_output_files(ATTRIBUTE *inputfile);

    /// Moves the finished temporary files to their final names, never overwriting.
    int publish_output_files(ATTRIBUTE *inputfile);
    /// Removes every temporary file of the input and whatever was already published.
    void discard_output_files(ATTRIBUTE *inputfile, int published);

private:
    void set_file_time(const QString &file_name);
    bool parse(QFile &input, const QString &input_name);
    bool parse_with_qt(QFile &input);
    int finish(ATTRIBUTE *inputfile, QFile &input, const QString &input_name);
};

/// Hidden name in the output directory under which a worker writes a file before publishing it.
QString temporary_name(const QString &final_name, long pid);
/// rename() that fails with EEXIST instead of replacing an existing file.
int rename_no_replace(const QByteArray &from, const QByteArray &to);
/// Syncs the directory that holds the file at path.
bool sync_directory(const QString &path);

/// The journal of a publication: written before the first output file is moved to its
/// final name, removed when the input file is gone, so that a worker killed in between
/// leaves a record from which the next run finishes its work.
int write_journal(ATTRIBUTE *inputfile, const QString &input_name, bool remove_input);
void remove_journal();
/// Finishes the publication of a dead worker and removes its temporary files.
void recover_worker(long pid);
/// The same for every dead worker that left files in the output directory.
void recover_dead_workers();

#endif
