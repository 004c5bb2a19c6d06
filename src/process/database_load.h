#ifndef STRANDOR_PROCESS_DATABASE_LOAD_H
#define STRANDOR_PROCESS_DATABASE_LOAD_H

#include <memory>
#include <vector>

#include "database.h"
#include "output_sink.h"

/// Records loaded into PostgreSQL (-D): each measurement's records wait in an unnamed
/// temporary file, then all are copied in one transaction that ends with the file's row
/// in the ledger. A file that the ledger holds was loaded by a run stopped before it
/// could remove the input, or delivered again: it is not loaded again. A failure of the
/// database itself, not of the data, leaves the file for the next run.
class DATABASE_LOAD : public OUTPUT_SINK {
public:
    /// ledger: how the ledger tells files apart, as the run found it before its workers.
    DATABASE_LOAD(const INPUT_FATE &fate, const QString &conninfo, LEDGER_FORM ledger);
    ~DATABASE_LOAD() override;
    OUTCOME settle(const INPUT_FILE &input, bool *done_before) override;
    OUTCOME open(const DESCRIPTION &description, const INPUT_FILE &input) override;
    OUTCOME commit(const std::vector<long> &records) override;
    void abort() override;
    int plan(const DESCRIPTION &description, const INPUT_FILE &input, QStringList *outputs) override;
    const char *count_line() const override { return "INFO: %1: %2 records loaded into %3 tables\n"; }
    /// The path that the measurement's temporary file was created under, and unlinked.
    QString output_name(size_t measurement) const override { return names[measurement]; }

private:
    void close_parts();

    const QString conninfo;
    LEDGER_FORM ledger;
    std::unique_ptr<DATABASE> database;
    /// The SHA-256 of the input's bytes, in lower-case hex; empty for a ledger without digests.
    QByteArray sha256;
    const INPUT_FILE *input = nullptr;
    /// The records of each measurement until they are copied.
    std::vector<LOAD_PART> parts;
    std::vector<QString> names;
};

#endif
