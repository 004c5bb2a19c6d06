#ifndef STRANDOR_PROCESS_PUBLICATION_H
#define STRANDOR_PROCESS_PUBLICATION_H

#include <QByteArray>
#include <QString>
#include <QList>
#include <QPair>
#include <QStringList>

#include "output_sink.h"
#include "safe_open.h"

struct MEASUREMENT_PLAN;

// Output is written under hidden temporary names and published by a rename that never
// replaces a file, with a journal that lets the next run finish a publication that a
// kill interrupted.

/// Hidden name in the output directory under which a worker writes a file before publishing it.
QString temporary_name(const QString &final_name, long pid);
/// rename() that fails with EEXIST instead of replacing an existing file.
int rename_no_replace(const QByteArray &from, const QByteArray &to);
/// Syncs the directory that holds the file at path.
bool sync_directory(const QString &path);
/// What %6 in a file mask stands for, from the input's path below the input directory.
QString source_path_stem(const QString &source_name);
/// "already exists": an output file of that name is in the way.
void log_exists(const QString &path);
/// The input's name now names another file, which the next run converts.
void log_replaced(const QString &file_name);

/// Records published as files in the output directory: each written under a hidden
/// temporary name, synced, named in a journal, then renamed to its final name without
/// replacing any file; the journal goes once the input has met its fate. A worker killed
/// anywhere in between leaves a journal from which the next run finishes its work, and a
/// failure rolls back what was published.
class FILE_PUBLICATION : public OUTPUT_SINK {
public:
    explicit FILE_PUBLICATION(const INPUT_FATE &fate) : OUTPUT_SINK(fate) {}
    ~FILE_PUBLICATION() override;
    OUTCOME open(const DESCRIPTION &description, const INPUT_FILE &input) override;
    OUTCOME commit(const std::vector<long> &records) override;
    void close() override;
    void abort() override { discard(0); }
    int plan(const DESCRIPTION &description, const INPUT_FILE &input, QStringList *outputs) override;
    const char *count_line() const override { return "INFO: %1: %2 records in %3 output files\n"; }
    QString output_name(size_t measurement) const override { return names[measurement]; }

    /// The final path of the measurement's output, or empty when it cannot be named (logged).
    static QString output_file_name(const MEASUREMENT_PLAN &plan, const INPUT_FILE &input);

private:
    OUTCOME create(size_t measurement, const QString &path);
    OUTCOME close_files();
    void skip_empty(const std::vector<long> &records);
    OUTCOME settle_existing();
    OUTCOME write_journal();
    OUTCOME publish();
    void roll_back(size_t published);
    /// Removes every temporary file of the input and the first published outputs.
    void discard(size_t published);

    const INPUT_FILE *input = nullptr;
    /// The final path of each measurement's output; empty for one that publishes nothing.
    std::vector<QString> names;
    /// Outputs found in place with the bytes this conversion wrote: not published again.
    QStringList in_place;
};

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
