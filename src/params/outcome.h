#ifndef STRANDOR_PARAMS_OUTCOME_H
#define STRANDOR_PARAMS_OUTCOME_H

/// A reason of our own, negative like NOT_REGULAR_FILE: a failure that lies outside the
/// file (the database unreachable, or failing for its own reasons), which stays for the
/// next run.
const int OUTSIDE_THE_FILE = -1001;

/// How a step of a conversion ended: done, or failed with the errno of the system call
/// that failed (0 when the file itself is at fault, or its reason is logged alone), or
/// OUTSIDE_THE_FILE. Failures travel back as values; what they mean for the file is
/// decided in one place.
class OUTCOME {
public:
    static OUTCOME done() { return OUTCOME(false, 0); }
    static OUTCOME failed(int err = 0) { return OUTCOME(true, err); }
    bool ok() const { return !failure; }
    int error() const { return err; }
    explicit operator bool() const { return ok(); }

private:
    OUTCOME(bool failure, int err) : failure(failure), err(err) {}
    bool failure;
    int err;
};

#endif
