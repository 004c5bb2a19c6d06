#ifndef STRANDOR_XML_STAMP_READER_H
#define STRANDOR_XML_STAMP_READER_H

#include <QByteArray>

#include <utility>
#include <vector>

class INPUT_STREAM;

/// One place of a file's time stamp: an element path, names as written ("prefix:local"
/// split at the first colon), and the attribute of that element that holds it.
struct STAMP_SOURCE {
    std::vector<std::pair<QByteArray, QByteArray>> path;
    QByteArray attribute;
};

/// How much of a document is searched for its stamp: it stands in a file's header, and a
/// bound keeps the look from costing what the conversion costs.
const long STAMP_SCAN_BYTES = 64 * 1024;

/// The value of the first attribute, in document order, that one of the sources names,
/// among the first STAMP_SCAN_BYTES of the input; the attribute's name in *attribute.
/// False when there is none there.
bool find_stamp(INPUT_STREAM &input, const std::vector<STAMP_SOURCE> &sources, QByteArray *value, QByteArray *attribute);

#endif
