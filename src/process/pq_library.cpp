#include "pq_library.h"

#include <dlfcn.h>

/// Resolves each function by its name; false, with dlerror's reason, at the first missing.
template <typename F>
static bool resolve(const char *name, F &function, QString *fault)
{
    // Looked up as a linked library's would be, so that a preloaded library that wraps
    // one (as the tests' fault injection does) still comes first.
    function = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
    if (!function)
        *fault = QString::fromLocal8Bit(dlerror());
    return function != nullptr;
}

static bool load(PQ_LIBRARY &pq, QString *fault)
{
    // The library's major version: the one the functions above were written against.
    void *handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_GLOBAL);
    if (!handle) {
        *fault = QString::fromLocal8Bit(dlerror());
        return false;
    }
#define STRANDOR_RESOLVE(name) resolve(#name, pq.name, fault)
    return STRANDOR_RESOLVE(PQclear) && STRANDOR_RESOLVE(PQcmdStatus) && STRANDOR_RESOLVE(PQconndefaults)
           && STRANDOR_RESOLVE(PQconnectdbParams) && STRANDOR_RESOLVE(PQconninfo) && STRANDOR_RESOLVE(PQconninfoFree)
           && STRANDOR_RESOLVE(PQconninfoParse) && STRANDOR_RESOLVE(PQerrorMessage) && STRANDOR_RESOLVE(PQexec)
           && STRANDOR_RESOLVE(PQexecParams) && STRANDOR_RESOLVE(PQfinish) && STRANDOR_RESOLVE(PQfreemem)
           && STRANDOR_RESOLVE(PQgetResult) && STRANDOR_RESOLVE(PQgetvalue) && STRANDOR_RESOLVE(PQntuples)
           && STRANDOR_RESOLVE(PQputCopyData) && STRANDOR_RESOLVE(PQputCopyEnd) && STRANDOR_RESOLVE(PQresultErrorField)
           && STRANDOR_RESOLVE(PQresultErrorMessage) && STRANDOR_RESOLVE(PQresultStatus)
           && STRANDOR_RESOLVE(PQsetNoticeReceiver) && STRANDOR_RESOLVE(PQstatus);
#undef STRANDOR_RESOLVE
}

const PQ_LIBRARY *pq_library(QString *fault)
{
    static PQ_LIBRARY pq;
    static QString why;
    static const bool loaded = load(pq, &why);
    if (!loaded && fault)
        *fault = why;
    return loaded ? &pq : nullptr;
}
