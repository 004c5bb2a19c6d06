#ifndef STRANDOR_OUTPUT_DATA_FILE_H
#define STRANDOR_OUTPUT_DATA_FILE_H

#include <QByteArray>
#include <QString>

#include <cstring>
#include <memory>
#include <sys/types.h>

#include "value.h"

struct z_stream_s;

/// An output data file written as UTF-8 bytes: records are appended to a buffer that
/// goes to the file in large write() calls, gzip-compressed if asked.
class DATA_FILE {
public:
    /// Takes ownership of the open descriptor. A gzip_level of 1 to 9 compresses.
    explicit DATA_FILE(int fd, int gzip_level = 0);
    ~DATA_FILE();
    DATA_FILE(const DATA_FILE &) = delete;
    DATA_FILE &operator=(const DATA_FILE &) = delete;

    void append(const char *data, size_t size)
    {
        if (used + size <= CAPACITY) {
            memcpy(buffer.get() + used, data, size);
            used += size;
        } else {
            append_large(data, size);
        }
    }
    void append(const QByteArray &data) { append(data.constData(), size_t(data.size())); }
    void append(const VALUE &value) { append(value.data(), value.size()); }
    /// Where bytes are written into the buffer directly, up to limit(); VALUE::put() may
    /// write VALUE::SLACK bytes beyond. commit() then says where the bytes put there end.
    char *tail() { return buffer.get() + used; }
    const char *limit() const { return buffer.get() + CAPACITY; }
    void commit(const char *end) { used = size_t(end - buffer.get()); }
    /// False once writing has failed.
    bool ok() const { return !failed; }
    /// The errno of the first call that failed.
    int error() const { return error_number; }
    /// The bytes in the file: after finish(), all of them.
    long long size() const { return written + off_t(used); }
    /// Writes what is left, syncs (unless told not to) and closes; false if any of it failed.
    bool finish(bool sync = true);

private:
    void append_large(const char *data, size_t size);
    void write_bytes(const char *data, size_t size);
    void write_raw(const char *data, size_t size);
    void compress(const char *data, size_t size, int flush);

    static const size_t CAPACITY = 256 * 1024;
    static const off_t WRITEBACK_SIZE = 8 << 20;
    int fd;
    std::unique_ptr<char[]> buffer;
    size_t used = 0;
    bool failed = false;
    int error_number = 0;
    /// Bytes written, and how many of them the disk has been asked to take already.
    off_t written = 0;
    off_t flushing = 0;
    std::unique_ptr<z_stream_s> zip;
    std::unique_ptr<char[]> zipped;
};

/// "could not write file": an output file or journal could not be written completely,
/// with the system's reason err.
void log_write_failed(const QString &path, int err);

#endif
