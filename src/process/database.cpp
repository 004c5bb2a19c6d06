#include "database.h"


#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>

#include "attribute.h"
#include "description.h"
#include "elog.h"
#include "outcome.h"
#include "pq_library.h"
#include "safe_open.h"

// libpq is called through the functions loaded when a run first needs it; the first
// caller, conninfo_fault, says when it cannot be loaded.
#define PQclear (pq_library()->PQclear)
#define PQcmdStatus (pq_library()->PQcmdStatus)
#define PQconndefaults (pq_library()->PQconndefaults)
#define PQconnectdbParams (pq_library()->PQconnectdbParams)
#define PQconninfo (pq_library()->PQconninfo)
#define PQconninfoFree (pq_library()->PQconninfoFree)
#define PQconninfoParse (pq_library()->PQconninfoParse)
#define PQerrorMessage (pq_library()->PQerrorMessage)
#define PQexec (pq_library()->PQexec)
#define PQexecParams (pq_library()->PQexecParams)
#define PQfinish (pq_library()->PQfinish)
#define PQfreemem (pq_library()->PQfreemem)
#define PQgetResult (pq_library()->PQgetResult)
#define PQgetvalue (pq_library()->PQgetvalue)
#define PQntuples (pq_library()->PQntuples)
#define PQputCopyData (pq_library()->PQputCopyData)
#define PQputCopyEnd (pq_library()->PQputCopyEnd)
#define PQresultErrorField (pq_library()->PQresultErrorField)
#define PQresultErrorMessage (pq_library()->PQresultErrorMessage)
#define PQresultStatus (pq_library()->PQresultStatus)
#define PQsetNoticeReceiver (pq_library()->PQsetNoticeReceiver)
#define PQstatus (pq_library()->PQstatus)

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

/// PostgreSQL's messages may span lines; the log takes one.
QString one_line(const char *message)
{
    return QString::fromUtf8(message).simplified();
}

/// The server's notices (a table of -C that exists already) go into the log, not
/// around it.
void log_notice(void *, const PGresult *result)
{
    const char *severity = PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED);
    const char *message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    elog.log(QString("%1: database: %2\n")
                 .arg(qstrcmp(severity, "WARNING") == 0 ? "WARNING" : "INFO",
                      one_line(message ? message : PQresultErrorMessage(result))));
}

/// The names of the settings that libpq's options give the server, as it reads them:
/// "-c name=value", "-cname=value" or "--name=value", a backslash keeping a space.
QStringList settings_named(const QString &options)
{
    QStringList words{QString()};
    for (int i = 0; i < options.size(); ++i) {
        if (options[i] == '\\' && i + 1 < options.size())
            words.last() += options[++i];
        else if (!options[i].isSpace())
            words.last() += options[i];
        else if (!words.last().isEmpty())
            words << QString();
    }
    QStringList names;
    for (int i = 0; i < words.size(); ++i) {
        QString setting;
        if (words[i] == "-c" && i + 1 < words.size())
            setting = words[++i];
        else if (words[i].startsWith("-c") || words[i].startsWith("--"))
            setting = words[i].mid(2);
        names << setting.section('=', 0, 0).replace('-', '_').toLower();
    }
    return names;
}
} // namespace

QByteArray mtime_text(long long mtime_ns)
{
    // Floor division: the fraction of a time before 1970 counts up from the second before.
    long long seconds = mtime_ns / 1000000000, fraction = mtime_ns % 1000000000;
    if (fraction < 0) {
        seconds -= 1;
        fraction += 1000000000;
    }
    const time_t t = time_t(seconds);
    struct tm utc;
    gmtime_r(&t, &utc);
    char text[48];
    const size_t size = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    snprintf(text + size, sizeof text - size, ".%06lld+00", fraction / 1000);
    return text;
}

QByteArray timeout_settings(const QString &options)
{
    const QStringList named = settings_named(options);
    QByteArrayList settings;
    if (!named.contains("lock_timeout"))
        settings << "SET lock_timeout = '60s'";
    if (!named.contains("statement_timeout"))
        settings << "SET statement_timeout = '10min'";
    return settings.join("; ");
}

int reason_of_sqlstate(const char *sqlstate)
{
    const QByteArray code(sqlstate);
    // Classes 22 and 23: a value that a column's type or constraint refuses.
    const bool data = code.startsWith("22") || code.startsWith("23") || code == "42P01" || code == "42703";
    return data ? 0 : OUTSIDE_THE_FILE;
}

QString conninfo_fault(const QString &conninfo)
{
    QString missing;
    if (!pq_library(&missing))
        return "libpq cannot be loaded: " + missing;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        const QString fault = error ? one_line(error) : QString("out of memory");
        PQfreemem(error);
        return fault;
    }
    // Whatever libpq itself would not show: password, sslpassword, and any it adds.
    PQconninfoOption *defaults = PQconndefaults();
    QString fault;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        for (PQconninfoOption *known = defaults; known && known->keyword; ++known) {
            if (qstrcmp(known->keyword, option->keyword) == 0 && qstrcmp(known->dispchar, "*") == 0 && option->val
                && option->val[0] != '\0')
                fault = "it holds a password; give it in PGPASSFILE (~/.pgpass) or PGPASSWORD instead";
        }
    }
    PQconninfoFree(defaults);
    PQconninfoFree(options);
    return fault;
}

DATABASE::~DATABASE()
{
    if (connection)
        PQfinish(connection);
}

/// Logs the error of a statement, or of the connection when the server gave no answer,
/// and keeps what it means for the file; always false.
bool DATABASE::failed(const PGresult *result, bool with_context)
{
    const char *message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char *context = with_context ? PQresultErrorField(result, PG_DIAG_CONTEXT) : nullptr;
    elog.log(QString("ERROR: database: %1%2\n")
                 .arg(one_line(message ? message : PQerrorMessage(connection)),
                      context ? " (" + one_line(context) + ")" : QString()));
    reason = reason_of_sqlstate(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    return false;
}

/// A failure of our own, or of the connection: outside the file.
bool DATABASE::failed_outside(const char *what)
{
    elog.log(QString("ERROR: database: %1\n").arg(one_line(what ? what : PQerrorMessage(connection))));
    reason = OUTSIDE_THE_FILE;
    return false;
}

bool DATABASE::connect(const QString &conninfo_text)
{
    QString missing;
    if (!pq_library(&missing))
        return failed_outside(QString("libpq cannot be loaded: %1").arg(missing).toUtf8().constData());
    const QByteArray conninfo = conninfo_text.toUtf8();
    // The string's own settings win over the first two; the records are UTF-8 whatever
    // it says.
    const char *keywords[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
    const char *values[] = {"10", "strandor", conninfo.constData(), "UTF8", nullptr};
    connection = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(connection) != CONNECTION_OK)
        return failed_outside();
    PQsetNoticeReceiver(connection, log_notice, nullptr);
    // The timeouts that the string or PGOPTIONS set are theirs.
    QString options;
    PQconninfoOption *settings = PQconninfo(connection);
    for (PQconninfoOption *setting = settings; setting && setting->keyword; ++setting) {
        if (qstrcmp(setting->keyword, "options") == 0)
            options = QString::fromUtf8(setting->val);
    }
    PQconninfoFree(settings);
    const QByteArray timeouts = timeout_settings(options);
    return timeouts.isEmpty() || run(timeouts.constData());
}

bool DATABASE::run(const char *sql)
{
    RESULT result(PQexec(connection, sql));
    return result.status() == PGRES_COMMAND_OK || result.status() == PGRES_TUPLES_OK || failed(result.result);
}

bool DATABASE::create_tables(const DESCRIPTIONS &descriptions)
{
    // Two runs starting at once would both try to create a table that neither found.
    if (!run("BEGIN") || !run("SELECT pg_advisory_xact_lock(hashtext('strandor create tables'))"))
        return false;
    const LEDGER_FORM form = ledger_form();
    if (form == LEDGER_FORM::UNKNOWN)
        return false;
    QString sql = QString("CREATE TABLE IF NOT EXISTS %1 (name text NOT NULL, size bigint NOT NULL, "
                          "mtime timestamptz NOT NULL, sha256 text, stamp text, records bigint, host text, "
                          "loaded_at timestamptz NOT NULL DEFAULT now());\n")
                      .arg(LEDGER);
    // The key of the earlier ledger would refuse new bytes under an old name, size and time.
    if (form == LEDGER_FORM::NAME_SIZE_MTIME)
        sql += QString("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS sha256 text;\n"
                       "ALTER TABLE %1 DROP CONSTRAINT IF EXISTS %1_name_size_mtime_key;\n").arg(LEDGER);
    sql += QString("CREATE UNIQUE INDEX IF NOT EXISTS %1_name_sha256 ON %1 (name, sha256);\n").arg(LEDGER);
    for (const auto &table : tables_of(descriptions)) {
        QStringList columns;
        for (const QString &column : table.second)
            columns << quoted(column) + " text";
        sql += QString("CREATE TABLE IF NOT EXISTS %1 (%2);\n").arg(quoted(table.first), columns.join(", "));
    }
    return run(sql.toUtf8().constData()) && run("COMMIT");
}

bool DATABASE::check_tables(const DESCRIPTIONS &descriptions, bool would_create)
{
    std::vector<std::pair<QString, QStringList>> tables = tables_of(descriptions);
    // Both forms of the ledger are read: sha256 is not asked for.
    tables.emplace_back(LEDGER, QStringList{"name", "size", "mtime", "stamp", "records", "host", "loaded_at"});
    bool sound = true;
    for (const auto &table : tables) {
        const QByteArray name = quoted(table.first).toUtf8();
        const char *parameters[] = {name.constData()};
        RESULT found(PQexecParams(connection, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, parameters, nullptr,
                                  nullptr, 0));
        if (found.status() != PGRES_TUPLES_OK)
            return failed(found.result);
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

LEDGER_FORM DATABASE::ledger_form()
{
    const QByteArray sql = QString("SELECT to_regclass('%1') IS NULL OR EXISTS (SELECT 1 FROM pg_attribute "
                                   "WHERE attrelid = to_regclass('%1') AND attname = 'sha256' AND NOT attisdropped)")
                               .arg(LEDGER).toUtf8();
    RESULT found(PQexec(connection, sql.constData()));
    if (found.status() != PGRES_TUPLES_OK) {
        failed(found.result);
        return LEDGER_FORM::UNKNOWN;
    }
    return PQgetvalue(found.result, 0, 0)[0] == 't' ? LEDGER_FORM::DIGEST : LEDGER_FORM::NAME_SIZE_MTIME;
}

int DATABASE::loaded_before(const QString &name, const FILE_IDENTITY &identity, const QByteArray &sha256)
{
    const QByteArray file = name.toUtf8(), size = QByteArray::number(qlonglong(identity.size)),
                     mtime = mtime_text(identity.mtime_ns);
    const char *by_digest[] = {file.constData(), sha256.constData()};
    const char *by_time[] = {file.constData(), size.constData(), mtime.constData()};
    const bool digest = !sha256.isEmpty();
    const QByteArray sql = QString(digest ? "SELECT 1 FROM %1 WHERE name = $1 AND sha256 = $2"
                                          : "SELECT 1 FROM %1 WHERE name = $1 AND size = $2 AND mtime = $3")
                               .arg(LEDGER).toUtf8();
    RESULT found(PQexecParams(connection, sql.constData(), digest ? 2 : 3, nullptr, digest ? by_digest : by_time,
                              nullptr, nullptr, 0));
    if (found.status() != PGRES_TUPLES_OK) {
        failed(found.result);
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
        return failed(started.result);
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
            return failed_outside();
    }
    // A fault of our own ends the COPY with it, and the server rolls back what came.
    if (PQputCopyEnd(connection, fault) != 1)
        return failed_outside();
    bool ok = true;
    while (PGresult *result = PQgetResult(connection)) {
        RESULT ended(result);
        if (ok && ended.status() != PGRES_COMMAND_OK)
            ok = failed(result, true);
    }
    return ok;
}

bool DATABASE::load(const std::vector<LOAD_PART> &parts, const QString &name, const FILE_IDENTITY &identity,
                    const QByteArray &sha256, const QString &stamp, long long records)
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
                                count.constData(), host, sha256.constData()};
    const bool digest = !sha256.isEmpty();
    const QByteArray sql = QString("INSERT INTO %1 (name, size, mtime, stamp, records, host, loaded_at%2) "
                                   "VALUES ($1, $2, $3, $4, $5, $6, now()%3)")
                               .arg(LEDGER, digest ? ", sha256" : "", digest ? ", $7" : "").toUtf8();
    RESULT noted(PQexecParams(connection, sql.constData(), digest ? 7 : 6, nullptr, parameters, nullptr, nullptr, 0));
    if (noted.status() != PGRES_COMMAND_OK) {
        failed(noted.result);
        // Another run loaded the same file at once: the next run finds it loaded.
        if (qstrcmp(PQresultErrorField(noted.result, PG_DIAG_SQLSTATE), "23505") == 0)
            reason = OUTSIDE_THE_FILE;
        return false;
    }
    // A transaction that failed unseen answers COMMIT with ROLLBACK.
    RESULT committed(PQexec(connection, "COMMIT"));
    if (committed.status() != PGRES_COMMAND_OK)
        return failed(committed.result);
    return qstrcmp(PQcmdStatus(committed.result), "COMMIT") == 0 || failed_outside("the transaction was rolled back");
}
