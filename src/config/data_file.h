#ifndef STRANDOR_CONFIG_DATA_FILE_H
#define STRANDOR_CONFIG_DATA_FILE_H

#include <QByteArray>
#include <QString>

#include <cstring>
#include <memory>
#include <sys/types.h>

#include "value.h"

/// An output data file written as UTF-8 bytes: records are appended to a buffer that
/// goes to the file in large write() calls.
class DATA_FILE {
public:
    /// Takes ownership of the open descriptor.
    explicit DATA_FILE(int fd);
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
    /// The bytes appended so far.
    long long size() const { return written + off_t(used); }
    /// Writes what is left, syncs and closes; false if any of it failed.
    bool finish();

private:
    void append_large(const char *data, size_t size);
    void write_bytes(const char *data, size_t size);

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
};

/// "could not write file": an output file or journal could not be written completely,
/// with the system's reason err.
void log_write_failed(const QString &path, int err);

#endif
