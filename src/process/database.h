#ifndef STRANDOR_PROCESS_DATABASE_H
#define STRANDOR_PROCESS_DATABASE_H

#include <QString>
#include <QStringList>

#include <vector>

class DESCRIPTIONS;
struct FILE_IDENTITY;
struct pg_conn;

/// Why libpq cannot use the connection string of -D, or that it holds a password, which
/// belongs in PGPASSFILE or the environment; empty when it can be used.
QString conninfo_fault(const QString &conninfo);

/// The records of one measurement of a file, waiting in an unnamed file to be copied.
struct LOAD_PART {
    QString table;
    QStringList columns;
    int fd;
};

/// A connection to the database of -D. Each failure is logged as one line,
/// "ERROR: database: <PostgreSQL's message>".
class DATABASE {
public:
    DATABASE() = default;
    ~DATABASE();
    DATABASE(const DATABASE &) = delete;
    DATABASE &operator=(const DATABASE &) = delete;

    bool connect(const QString &conninfo);
    /// -C: the ledger and the table of every measurement, where missing, every column text.
    bool create_tables(const DESCRIPTIONS &descriptions);
    /// Whether the ledger and the tables take what a run would load; logs each that does
    /// not, or that -C would create.
    bool check_tables(const DESCRIPTIONS &descriptions, bool would_create);
    /// 1 when the ledger holds the file with this size and modification time, 0 when it
    /// does not, -1 on failure.
    int loaded_before(const QString &name, const FILE_IDENTITY &identity);
    /// In one transaction: the records of each part, then the file's row in the ledger.
    bool load(const std::vector<LOAD_PART> &parts, const QString &name, const FILE_IDENTITY &identity,
              const QString &stamp, long long records);

private:
    bool failed(const char *what = nullptr);
    bool run(const char *sql);
    bool copy(const LOAD_PART &part);
    pg_conn *connection = nullptr;
};

#endif
