#include "database.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>

#include "attribute.h"
#include "description.h"
#include "elog.h"
#include "safe_open.h"

namespace {
struct RESULT {
    PGresult *result;
    explicit RESULT(PGresult *result) : result(result) {}
    ~RESULT() { PQclear(result); }
    ExecStatusType status() const { return PQresultStatus(result); }
};

const char LEDGER[] = "strandor_files";

QString quoted(const QString &name)
{
    return "\"" + QString(name).replace("\"", "\"\"") + "\"";
}

/// The measurement tables of the configuration, each with the columns of its first plan.
std::vector<std::pair<QString, QStringList>> tables_of(const DESCRIPTIONS &descriptions)
{
    std::vector<std::pair<QString, QStringList>> tables;
    for (const auto &description : descriptions.all()) {
        for (const MEASUREMENT_PLAN &plan : description->plans) {
            bool known = false;
            for (const auto &table : tables)
                known = known || table.first == plan.name;
            if (!known && !plan.column_names.isEmpty())
                tables.emplace_back(plan.name, plan.column_names);
        }
    }
    return tables;
}

QString column_list(const QStringList &columns)
{
    QStringList names;
    for (const QString &column : columns)
        names << quoted(column);
    return names.join(", ");
}

/// The modification time as timestamptz takes it, to the microsecond: the ledger
/// compares it with what a later run reads.
QByteArray mtime_text(long long mtime_ns)
{
    const time_t seconds = time_t(mtime_ns / 1000000000);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t size = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    snprintf(text + size, sizeof text - size, ".%06lld+00", (mtime_ns % 1000000000) / 1000);
    return text;
}

/// PostgreSQL's messages may span lines; the log takes one.
QString one_line(const char *message)
{
    return QString::fromUtf8(message).simplified();
}
} // namespace

QString conninfo_fault(const QString &conninfo)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        const QString fault = error ? one_line(error) : QString("out of memory");
        PQfreemem(error);
        return fault;
    }
    QString fault;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val)
            fault = "it holds a password; give it in PGPASSFILE (~/.pgpass) or PGPASSWORD instead";
    }
    PQconninfoFree(options);
    return fault;
}

DATABASE::~DATABASE()
{
    PQfinish(connection);
}

/// Logs the connection's or the statement's error; always false.
bool DATABASE::failed(const char *what)
{
    elog.log(QString("ERROR: database: %1\n").arg(one_line(what ? what : PQerrorMessage(connection))));
    return false;
}

bool DATABASE::connect(const QString &conninfo_text)
{
    const QByteArray conninfo = conninfo_text.toUtf8();
    // The string's own settings win over the first two; the records are UTF-8 whatever
    // it says.
    const char *keywords[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
    const char *values[] = {"10", "strandor", conninfo.constData(), "UTF8", nullptr};
    connection = PQconnectdbParams(keywords, values, 1);
    return PQstatus(connection) == CONNECTION_OK || failed();
}

bool DATABASE::run(const char *sql)
{
    RESULT result(PQexec(connection, sql));
    if (result.status() == PGRES_COMMAND_OK || result.status() == PGRES_TUPLES_OK)
        return true;
    return failed(PQresultErrorField(result.result, PG_DIAG_MESSAGE_PRIMARY));
}

bool DATABASE::create_tables(const DESCRIPTIONS &descriptions)
{
    QString sql = QString("CREATE TABLE IF NOT EXISTS %1 (name text NOT NULL, size bigint NOT NULL, "
                          "mtime timestamptz NOT NULL, stamp text, records bigint, host text, "
                          "loaded_at timestamptz NOT NULL DEFAULT now(), UNIQUE (name, size, mtime));\n")
                      .arg(LEDGER);
    for (const auto &table : tables_of(descriptions)) {
        QStringList columns;
        for (const QString &column : table.second)
            columns << quoted(column) + " text";
        sql += QString("CREATE TABLE IF NOT EXISTS %1 (%2);\n").arg(quoted(table.first), columns.join(", "));
    }
    // Two runs starting at once would both try to create a table that neither found.
    return run("BEGIN") && run("SELECT pg_advisory_xact_lock(hashtext('strandor create tables'))")
           && run(sql.toUtf8().constData()) && run("COMMIT");
}

bool DATABASE::check_tables(const DESCRIPTIONS &descriptions, bool would_create)
{
    std::vector<std::pair<QString, QStringList>> tables = tables_of(descriptions);
    tables.emplace_back(LEDGER, QStringList{"name", "size", "mtime", "stamp", "records", "host", "loaded_at"});
    bool sound = true;
    for (const auto &table : tables) {
        const QByteArray name = quoted(table.first).toUtf8();
        const char *parameters[] = {name.constData()};
        RESULT found(PQexecParams(connection, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, parameters, nullptr,
                                  nullptr, 0));
        if (found.status() != PGRES_TUPLES_OK)
            return failed(PQresultErrorField(found.result, PG_DIAG_MESSAGE_PRIMARY));
        if (PQgetvalue(found.result, 0, 0)[0] != 't') {
            if (would_create) {
                elog.log(QString("INFO: database: table %1 would be created\n").arg(quoted(table.first)));
            } else {
                elog.log(QString("ERROR: database: table %1 does not exist\n").arg(quoted(table.first)));
                sound = false;
            }
            continue;
        }
        // Selecting the columns names the first that is missing.
        const QString sql = QString("SELECT %1 FROM %2 LIMIT 0").arg(column_list(table.second), quoted(table.first));
        sound = run(sql.toUtf8().constData()) && sound;
    }
    return sound;
}

int DATABASE::loaded_before(const QString &name, const FILE_IDENTITY &identity)
{
    const QByteArray file = name.toUtf8(), size = QByteArray::number(qlonglong(identity.size)),
                     mtime = mtime_text(identity.mtime_ns);
    const char *parameters[] = {file.constData(), size.constData(), mtime.constData()};
    const QByteArray sql = QString("SELECT 1 FROM %1 WHERE name = $1 AND size = $2 AND mtime = $3").arg(LEDGER).toUtf8();
    RESULT found(PQexecParams(connection, sql.constData(), 3, nullptr, parameters, nullptr, nullptr, 0));
    if (found.status() != PGRES_TUPLES_OK) {
        failed(PQresultErrorField(found.result, PG_DIAG_MESSAGE_PRIMARY));
        return -1;
    }
    return PQntuples(found.result) > 0 ? 1 : 0;
}

/// Streams the part's file into COPY; its text is COPY's own.
bool DATABASE::copy(const LOAD_PART &part)
{
    const QString sql = QString("COPY %1 (%2) FROM STDIN").arg(quoted(part.table), column_list(part.columns));
    RESULT started(PQexec(connection, sql.toUtf8().constData()));
    if (started.status() != PGRES_COPY_IN)
        return failed(PQresultErrorField(started.result, PG_DIAG_MESSAGE_PRIMARY));
    std::unique_ptr<char[]> buffer(new char[1 << 18]);
    const char *fault = nullptr;
    if (lseek(part.fd, 0, SEEK_SET) != 0)
        fault = strerror(errno);
    for (ssize_t n; !fault && (n = read(part.fd, buffer.get(), 1 << 18)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fault = strerror(errno);
        else if (PQputCopyData(connection, buffer.get(), int(n)) != 1)
            return failed();
    }
    // A fault of our own ends the COPY with it, and the server rolls back what came.
    if (PQputCopyEnd(connection, fault) != 1)
        return failed();
    bool ok = true;
    while (PGresult *result = PQgetResult(connection)) {
        RESULT ended(result);
        if (ok && ended.status() != PGRES_COMMAND_OK) {
            const char *context = PQresultErrorField(result, PG_DIAG_CONTEXT);
            const QString message = one_line(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
            elog.log(QString("ERROR: database: %1%2\n").arg(message, context ? " (" + one_line(context) + ")" : QString()));
            ok = false;
        }
    }
    return ok;
}

bool DATABASE::load(const std::vector<LOAD_PART> &parts, const QString &name, const FILE_IDENTITY &identity,
                    const QString &stamp, long long records)
{
    if (!run("BEGIN"))
        return false;
    for (const LOAD_PART &part : parts) {
        if (!copy(part))
            return false;
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const QByteArray file = name.toUtf8(), size = QByteArray::number(qlonglong(identity.size)),
                     mtime = mtime_text(identity.mtime_ns), stamp_text = stamp.toUtf8(),
                     count = QByteArray::number(records);
    const char *parameters[] = {file.constData(), size.constData(), mtime.constData(), stamp_text.constData(),
                                count.constData(), host};
    const QByteArray sql = QString("INSERT INTO %1 (name, size, mtime, stamp, records, host, loaded_at) "
                                   "VALUES ($1, $2, $3, $4, $5, $6, now())").arg(LEDGER).toUtf8();
    RESULT noted(PQexecParams(connection, sql.constData(), 6, nullptr, parameters, nullptr, nullptr, 0));
    if (noted.status() != PGRES_COMMAND_OK)
        return failed(PQresultErrorField(noted.result, PG_DIAG_MESSAGE_PRIMARY));
    // A transaction that failed unseen answers COMMIT with ROLLBACK.
    RESULT committed(PQexec(connection, "COMMIT"));
    if (committed.status() != PGRES_COMMAND_OK)
        return failed(PQresultErrorField(committed.result, PG_DIAG_MESSAGE_PRIMARY));
    return qstrcmp(PQcmdStatus(committed.result), "COMMIT") == 0 || failed("the transaction was rolled back");
}
