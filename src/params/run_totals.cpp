#include "run_totals.h"

#include <new>
#include <sys/mman.h>

static RUN_TOTALS *shared = nullptr;

void open_run_totals()
{
    void *page = mmap(nullptr, sizeof(RUN_TOTALS), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    shared = page == MAP_FAILED ? nullptr : new (page) RUN_TOTALS;
}

// Workers that run at once add to the same figures.
void add_to_run_totals(long long records, long long output_bytes)
{
    if (!shared)
        return;
    __atomic_add_fetch(&shared->records, records, __ATOMIC_RELAXED);
    __atomic_add_fetch(&shared->output_bytes, output_bytes, __ATOMIC_RELAXED);
    if (records == 0)
        __atomic_add_fetch(&shared->empty_files, 1, __ATOMIC_RELAXED);
}

RUN_TOTALS run_totals()
{
    RUN_TOTALS totals;
    if (shared) {
        totals.records = __atomic_load_n(&shared->records, __ATOMIC_RELAXED);
        totals.output_bytes = __atomic_load_n(&shared->output_bytes, __ATOMIC_RELAXED);
        totals.empty_files = __atomic_load_n(&shared->empty_files, __ATOMIC_RELAXED);
    }
    return totals;
}
