#ifndef STRANDOR_DRIVER_RUN_METRICS_H
#define STRANDOR_DRIVER_RUN_METRICS_H

// How a run went, for node_exporter's textfile collector: the figures of the last run
// replace those of the one before, so every metric is a gauge.

/// Starts the clock of strandor_run_seconds.
void start_run_clock();
/// Writes the metrics file (-m), if any; false, with the reason logged, when it could not.
bool write_run_metrics(int status);
/// Ends the run of the main process: writes its metrics file (-m), then exits with status,
/// or with a failure if the metrics could not be written.
[[noreturn]] void end_run(int status);

#endif
