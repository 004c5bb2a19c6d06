#include "input_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

static const size_t RAW_SIZE = 256 * 1024;
/// inflateInit2: a gzip wrapper only, with the largest window.
static const int GZIP_WINDOW = 15 + 16;

INPUT_STREAM::INPUT_STREAM(int fd) : fd(fd), raw(new unsigned char[RAW_SIZE])
{
    if (!refill())
        return;
    // One byte may still be followed by the second: the magic is read whole.
    if (left == 1 && raw[0] == 0x1f && !refill())
        return;
    gzip = left >= 2 && next[0] == 0x1f && next[1] == 0x8b;
    if (gzip && inflateInit2(&zs, GZIP_WINDOW) != Z_OK)
        fail("out of memory");
}

INPUT_STREAM::~INPUT_STREAM()
{
    if (gzip)
        inflateEnd(&zs);
}

long INPUT_STREAM::fail(const QString &message)
{
    if (why.isEmpty())
        why = message;
    return -1;
}

/// Reads more of the file behind what is left; false at its end or on an error.
bool INPUT_STREAM::refill()
{
    if (at_end || !why.isEmpty())
        return false;
    if (left > 0 && next != raw.get())
        memmove(raw.get(), next, left);
    next = raw.get();
    ssize_t n;
    do
        n = ::read(fd, raw.get() + left, RAW_SIZE - left);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        read_errno = errno;
        fail(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    at_end = n == 0;
    left += size_t(n);
    return n > 0;
}

long INPUT_STREAM::read(char *buffer, size_t size)
{
    if (!why.isEmpty())
        return -1;
    if (gzip)
        return inflate_into(buffer, size);
    size_t given = 0;
    while (given < size) {
        if (left == 0 && !refill())
            break;
        const size_t n = std::min(size - given, left);
        memcpy(buffer + given, next, n);
        next += n;
        left -= n;
        given += n;
    }
    return why.isEmpty() ? long(given) : -1;
}

long INPUT_STREAM::inflate_into(char *buffer, size_t size)
{
    zs.next_out = reinterpret_cast<Bytef *>(buffer);
    zs.avail_out = uInt(size);
    while (zs.avail_out > 0) {
        if (left == 0 && !refill()) {
            if (!why.isEmpty())
                return -1;
            if (!member_ended)
                return fail("compressed data truncated");
            break;
        }
        if (member_ended) {
            // Another member, or bytes that are no part of the file's data.
            if (next[0] != 0x1f)
                return fail("unexpected data after the compressed data");
            inflateReset(&zs);
            member_ended = false;
        }
        zs.next_in = next;
        zs.avail_in = uInt(left);
        const int status = inflate(&zs, Z_NO_FLUSH);
        left = zs.avail_in;
        next = zs.next_in;
        if (status == Z_STREAM_END)
            member_ended = true;
        else if (status == Z_DATA_ERROR)
            return fail(QString("compressed data corrupt (%1)").arg(zs.msg ? zs.msg : "invalid data"));
        else if (status == Z_MEM_ERROR)
            return fail("out of memory");
        else if (status != Z_OK && status != Z_BUF_ERROR)
            return fail(QString("inflate failed (%1)").arg(status));
    }
    return long(size - zs.avail_out);
}

void INPUT_STREAM::drain()
{
    static char sink[64 * 1024];
    while (read(sink, sizeof sink) > 0) {
    }
}
