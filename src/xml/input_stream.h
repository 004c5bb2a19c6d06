#ifndef STRANDOR_XML_INPUT_STREAM_H
#define STRANDOR_XML_INPUT_STREAM_H

#include <QString>

#include <memory>
#include <zlib.h>

/// The bytes of one input file, read in large pieces. A file that begins with the gzip
/// magic (1f 8b) is inflated on the way, whatever its name; concatenated gzip members
/// follow one another, as gzip(1) reads them. Every member's CRC and length are checked,
/// so a corrupt or truncated file never passes for a shorter document.
class INPUT_STREAM {
public:
    explicit INPUT_STREAM(int fd);
    ~INPUT_STREAM();
    INPUT_STREAM(const INPUT_STREAM &) = delete;
    INPUT_STREAM &operator=(const INPUT_STREAM &) = delete;

    /// Up to size bytes of the document; 0 at its end, -1 after a fault.
    long read(char *buffer, size_t size);
    /// Reads to the end, discarding, so that a fault further on is found.
    void drain();

    bool compressed() const { return gzip; }
    /// Why reading failed, for the log ("compressed data truncated"); empty while it has not.
    const QString &fault() const { return why; }
    /// The errno of a failed read() (EIO of a failing disk, say), or 0.
    int read_error() const { return read_errno; }

private:
    bool refill();
    long fail(const QString &message);
    long inflate_into(char *buffer, size_t size);

    int fd;
    std::unique_ptr<unsigned char[]> raw;
    /// Unread bytes of raw.
    unsigned char *next = nullptr;
    size_t left = 0;
    bool at_end = false;
    bool gzip = false;
    /// Between two gzip members: the last one ended, the next has not begun.
    bool member_ended = false;
    z_stream zs{};
    QString why;
    int read_errno = 0;
};

#endif
