#ifndef STRANDOR_CONFIG_DATA_FILE_H
#define STRANDOR_CONFIG_DATA_FILE_H

#include <QByteArray>
#include <QString>

/// An output data file written as UTF-8 bytes: records are appended to a buffer that
/// goes to the file in large write() calls.
class DATA_FILE {
public:
    /// Takes ownership of the open descriptor.
    explicit DATA_FILE(int fd);
    ~DATA_FILE();
    DATA_FILE(const DATA_FILE &) = delete;
    DATA_FILE &operator=(const DATA_FILE &) = delete;

    void append(const char *data, int size);
    void append(const QByteArray &data) { append(data.constData(), data.size()); }
    /// Writes the buffer out once it is large; false if writing failed.
    bool written_when_full() { return buffer.size() < FLUSH_SIZE || write_out(); }
    bool write_out();
    /// Writes what is left, syncs and closes; false if any of it failed.
    bool finish();

private:
    void write_bytes(const char *data, qint64 size);
    static const int FLUSH_SIZE = 256 * 1024;
    int fd;
    QByteArray buffer;
    bool failed = false;
};

/// "could not write file": an output file or journal could not be written completely.
void log_write_failed(const QString &path);

#endif
