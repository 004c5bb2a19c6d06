#ifndef STRANDOR_PROCESS_DATABASE_LOAD_H
#define STRANDOR_PROCESS_DATABASE_LOAD_H

#include <memory>
#include <vector>

#include "database.h"
#include "output_sink.h"

/// Records loaded into PostgreSQL (-D): each measurement's records wait in an unnamed
/// temporary file, then all are copied in one transaction that ends with the file's row
/// in the ledger. A file that the ledger holds was loaded by a run stopped before it
/// could remove the input: it is not loaded again.
class DATABASE_LOAD : public OUTPUT_SINK {
public:
    DATABASE_LOAD(const INPUT_FATE &fate, const QString &conninfo);
    ~DATABASE_LOAD() override;
    OUTCOME settle(const INPUT_FILE &input, bool *done_before) override;
    OUTCOME open(const DESCRIPTION &description, const INPUT_FILE &input) override;
    OUTCOME commit(const std::vector<long> &records) override;
    void abort() override;
    int plan(const DESCRIPTION &description, const INPUT_FILE &input, QStringList *outputs) override;
    const char *count_line() const override { return "INFO: %1: %2 records loaded into %3 tables\n"; }
    QString output_name(size_t) const override { return QString(); }

private:
    void close_parts();

    const QString conninfo;
    std::unique_ptr<DATABASE> database;
    const INPUT_FILE *input = nullptr;
    /// The records of each measurement until they are copied.
    std::vector<LOAD_PART> parts;
};

#endif
