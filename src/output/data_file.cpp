#include "data_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "elog.h"

DATA_FILE::DATA_FILE(int fd, int gzip_level) : fd(fd), buffer(new char[CAPACITY + VALUE::SLACK])
{
    if (gzip_level <= 0)
        return;
    zip.reset(new z_stream());
    zipped.reset(new char[CAPACITY]);
    // A gzip header without name or time: the same records give the same bytes, so that a
    // file delivered again finds its output in place.
    if (deflateInit2(zip.get(), gzip_level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        zip.reset();
        failed = true;
        error_number = ENOMEM;
    }
}

DATA_FILE::~DATA_FILE()
{
    if (zip)
        deflateEnd(zip.get());
    if (fd >= 0)
        close(fd);
}

void DATA_FILE::append_large(const char *data, size_t size)
{
    write_bytes(buffer.get(), used);
    used = 0;
    // A value larger than the buffer goes out as it stands instead of being copied.
    if (size >= CAPACITY) {
        write_bytes(data, size);
    } else {
        memcpy(buffer.get(), data, size);
        used = size;
    }
}

void DATA_FILE::write_bytes(const char *data, size_t size)
{
    if (zip)
        compress(data, size, Z_NO_FLUSH);
    else
        write_raw(data, size);
}

void DATA_FILE::compress(const char *data, size_t size, int flush)
{
    zip->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    zip->avail_in = uInt(size);
    int rc;
    do {
        zip->next_out = reinterpret_cast<Bytef *>(zipped.get());
        zip->avail_out = uInt(CAPACITY);
        rc = deflate(zip.get(), flush);
        write_raw(zipped.get(), CAPACITY - zip->avail_out);
    } while (!failed && rc == Z_OK && (zip->avail_in != 0 || zip->avail_out == 0 || flush == Z_FINISH));
    if (!failed && rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        failed = true;
        error_number = EIO;
    }
}

void DATA_FILE::write_raw(const char *data, size_t size)
{
    while (size > 0 && !failed) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        failed = n <= 0;
        if (failed)
            error_number = n < 0 ? errno : EIO;
        data += n > 0 ? n : 0;
        size -= n > 0 ? size_t(n) : 0;
        written += n > 0 ? n : 0;
    }
    // Writeback starts while the parse goes on, so that the final fsync of a large
    // output has little left to wait for.
    if (written - flushing >= WRITEBACK_SIZE) {
        sync_file_range(fd, flushing, written - flushing, SYNC_FILE_RANGE_WRITE);
        flushing = written;
    }
}

bool DATA_FILE::finish(bool sync)
{
    write_bytes(buffer.get(), used);
    used = 0;
    if (zip && !failed)
        compress(nullptr, 0, Z_FINISH);
    bool ok = !failed && (!sync || fsync(fd) == 0);
    if (!failed && !ok)
        error_number = errno;
    if (close(fd) != 0 && ok) {
        error_number = errno;
        ok = false;
    }
    fd = -1;
    return ok;
}

void log_write_failed(const QString &path, int err)
{
    elog.log(QString("ERROR: could not write file %1\n").arg(path));
    log_reason(err);
}
