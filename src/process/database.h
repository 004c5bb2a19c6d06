#ifndef STRANDOR_PROCESS_DATABASE_H
#define STRANDOR_PROCESS_DATABASE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

class DESCRIPTIONS;
struct FILE_IDENTITY;
struct pg_conn;
struct pg_result;

/// Why libpq cannot use the connection string of -D, or that it holds a secret (a
/// password, the key of a client certificate...), which belongs in PGPASSFILE or the
/// environment; empty when it can be used.
QString conninfo_fault(const QString &conninfo);

/// The modification time as timestamptz takes it, to the microsecond: the ledger
/// compares it with what a later run reads. Times before 1970 count down from the
/// second before: -0.5 s is 23:59:59.5.
QByteArray mtime_text(long long mtime_ns);

/// The SET statements that give a connection the timeouts its options ("-c name=value"
/// or "--name=value" in libpq's options, PGOPTIONS included) leave open: no statement
/// waits without end for a lock or a server. Empty when both are given.
QByteArray timeout_settings(const QString &options);

/// The reason that an OUTCOME carries for a failure with this SQLSTATE (null when the
/// server gave none: the connection failed): 0 when the data is at fault (a value that a
/// column refuses, a missing table or column), else OUTSIDE_THE_FILE, such as an outage,
/// a timeout or a deadlock, after which the file is tried again by the next run.
int reason_of_sqlstate(const char *sqlstate);

/// How the ledger tells files apart.
enum class LEDGER_FORM {
    /// Not known yet: the worker asks.
    UNKNOWN,
    /// By name and SHA-256 digest of the bytes, as -C makes it.
    DIGEST,
    /// By name, size and modification time: a ledger of an earlier version, until -C.
    NAME_SIZE_MTIME,
};

/// The records of one measurement of a file, waiting in an unnamed file to be copied.
struct LOAD_PART {
    QString table;
    QStringList columns;
    int fd;
};

/// A connection to the database of -D. Each failure is logged as one line,
/// "ERROR: database: <PostgreSQL's message>", and the server's notices as "INFO:
/// database: <message>".
class DATABASE {
public:
    DATABASE() = default;
    ~DATABASE();
    DATABASE(const DATABASE &) = delete;
    DATABASE &operator=(const DATABASE &) = delete;

    bool connect(const QString &conninfo);
    /// -C: the ledger and the table of every measurement, where missing, every column
    /// text; a ledger of an earlier version gains its digest.
    bool create_tables(const DESCRIPTIONS &descriptions);
    /// Whether the ledger and the tables take what a run would load; logs each that does
    /// not, or that -C would create.
    bool check_tables(const DESCRIPTIONS &descriptions, bool would_create);
    /// DIGEST, also when there is no ledger yet, NAME_SIZE_MTIME for a ledger without
    /// digests, UNKNOWN on failure.
    LEDGER_FORM ledger_form();
    /// 1 when the ledger holds the file: by name and digest, or with an empty digest by
    /// name, size and modification time; 0 when it does not, -1 on failure.
    int loaded_before(const QString &name, const FILE_IDENTITY &identity, const QByteArray &sha256);
    /// In one transaction: the records of each part, then the file's row in the ledger,
    /// with its digest unless that is empty.
    bool load(const std::vector<LOAD_PART> &parts, const QString &name, const FILE_IDENTITY &identity,
              const QByteArray &sha256, const QString &stamp, long long records);
    /// What the last failure means for the file, as reason_of_sqlstate() says.
    int failure_reason() const { return reason; }

private:
    bool failed(const pg_result *result, bool with_context = false);
    bool failed_outside(const char *what = nullptr);
    bool run(const char *sql);
    bool copy(const LOAD_PART &part);
    pg_conn *connection = nullptr;
    int reason = 0;
};

#endif
