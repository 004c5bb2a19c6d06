#ifndef STRANDOR_XML_RECORD_SINK_H
#define STRANDOR_XML_RECORD_SINK_H

#include <QString>

#include <cstddef>

class DATA_FILE;

/// Where the records of a parse go: one data file for each measurement of the description,
/// whatever becomes of them once the parse is done.
class RECORD_SINK {
public:
    virtual ~RECORD_SINK() = default;
    virtual DATA_FILE &records(size_t measurement) = 0;
    /// The output as a message that its writing failed names it.
    virtual QString output_name(size_t measurement) const = 0;
};

#endif
