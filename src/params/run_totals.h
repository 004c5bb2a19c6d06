#ifndef STRANDOR_PARAMS_RUN_TOTALS_H
#define STRANDOR_PARAMS_RUN_TOTALS_H

/// What the workers of a run add up for its metrics, in memory shared with every worker
/// forked after open_run_totals(); the parent reads it when the run ends.
struct RUN_TOTALS {
    long long records = 0;
    long long output_bytes = 0;
    /// Converted files that gave no record.
    long long empty_files = 0;
};

/// Maps the shared totals; without them (no memory) the figures stay 0.
void open_run_totals();
/// A worker's converted file: its records and the bytes of its outputs.
void add_to_run_totals(long long records, long long output_bytes);
RUN_TOTALS run_totals();

#endif
