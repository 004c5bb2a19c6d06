#ifndef STRANDOR_PROCESS_PQ_LIBRARY_H
#define STRANDOR_PROCESS_PQ_LIBRARY_H

#include <QString>

#include <libpq-fe.h>

/// The functions of libpq that strandor calls. The library is loaded when a run first
/// needs a database (-D): a run that writes files maps none of its forty libraries, so
/// that its start, each fork and each worker's end cost that much less.
struct PQ_LIBRARY {
    decltype(&::PQclear) PQclear;
    decltype(&::PQcmdStatus) PQcmdStatus;
    decltype(&::PQconndefaults) PQconndefaults;
    decltype(&::PQconnectdbParams) PQconnectdbParams;
    decltype(&::PQconninfo) PQconninfo;
    decltype(&::PQconninfoFree) PQconninfoFree;
    decltype(&::PQconninfoParse) PQconninfoParse;
    decltype(&::PQerrorMessage) PQerrorMessage;
    decltype(&::PQexec) PQexec;
    decltype(&::PQexecParams) PQexecParams;
    decltype(&::PQfinish) PQfinish;
    decltype(&::PQfreemem) PQfreemem;
    decltype(&::PQgetResult) PQgetResult;
    decltype(&::PQgetvalue) PQgetvalue;
    decltype(&::PQntuples) PQntuples;
    decltype(&::PQputCopyData) PQputCopyData;
    decltype(&::PQputCopyEnd) PQputCopyEnd;
    decltype(&::PQresultErrorField) PQresultErrorField;
    decltype(&::PQresultErrorMessage) PQresultErrorMessage;
    decltype(&::PQresultStatus) PQresultStatus;
    decltype(&::PQsetNoticeReceiver) PQsetNoticeReceiver;
    decltype(&::PQstatus) PQstatus;
};

/// libpq, loaded on the first call; nullptr when it cannot be, with why in fault.
const PQ_LIBRARY *pq_library(QString *fault = nullptr);

#endif
