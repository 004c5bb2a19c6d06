#ifndef STRANDOR_PROCESS_OUTPUT_SINK_H
#define STRANDOR_PROCESS_OUTPUT_SINK_H

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "data_file.h"
#include "input_fate.h"
#include "outcome.h"
#include "record_sink.h"
#include "safe_open.h"

struct DESCRIPTION;
struct MEASUREMENT_PLAN;

/// The input of a conversion, as its destination sees it.
struct INPUT_FILE {
    /// The path it was opened by.
    QString path;
    /// Its path below the input directory, as messages show it, and its own name, which
    /// descriptions, stamps and output names take.
    QString source_name;
    QString base_name;
    /// The file as it was opened: only that file is removed or archived.
    FILE_IDENTITY identity;
    /// Its open descriptor until the parse ends; settle() may read it with pread, which
    /// leaves the parse's offset alone.
    int fd = -1;
    /// Its time stamp, as the digits of its name give it.
    QDateTime stamp;
};

/// Where the records of a file go, and how they are made safe there before the input
/// meets its fate: the parse writes into records(), then commit() or abort(). One class
/// for each destination.
class OUTPUT_SINK : public RECORD_SINK {
public:
    OUTPUT_SINK(const INPUT_FATE &fate) : fate(fate) {}
    /// Whether the destination holds the input's records already, from a run stopped
    /// before the input went: then it says so, and the input only meets its fate.
    virtual OUTCOME settle(const INPUT_FILE &input, bool *done_before);
    /// One output for each measurement of the description, ready for its records.
    virtual OUTCOME open(const DESCRIPTION &description, const INPUT_FILE &input) = 0;
    /// Makes the records of each measurement (records[i] of them) safe at their
    /// destination; the input may go once this has succeeded.
    virtual OUTCOME commit(const std::vector<long> &records) = 0;
    /// Once the input has met its fate: what the commit kept until then goes.
    virtual void close() {}
    /// Leaves nothing of the outputs behind.
    virtual void abort() = 0;
    /// The dry run: logs where the file's records would go, and adds the output files it
    /// would write to outputs; 0, or 1 when its outputs cannot be named.
    virtual int plan(const DESCRIPTION &description, const INPUT_FILE &input, QStringList *outputs) = 0;
    /// The line that tells how many records went where: the file, the records, the outputs.
    virtual const char *count_line() const = 0;

    DATA_FILE &records(size_t measurement) override { return *files[measurement]; }
    /// The bytes written, once committed.
    long long output_bytes = 0;

protected:
    /// Opens the output of each measurement with open_one, then writes its header (unless
    /// the destination takes none) and checks its MATCH; each fault is logged.
    OUTCOME open_measurements(const DESCRIPTION &description, const std::function<OUTCOME(const MEASUREMENT_PLAN &)> &open_one);

    const INPUT_FATE fate;
    std::vector<std::unique_ptr<DATA_FILE>> files;
    /// A header line starts each output.
    bool header_lines = true;
};

/// Whether a measurement that made that many records of a file publishes them
/// (EMPTY_OUTPUTS SKIP passes over one that made none).
bool publishes(long records);

/// A description without measurements is refused: converting it would remove the input
/// and leave nothing in its place.
bool has_measurements(const DESCRIPTION &description);

#endif
