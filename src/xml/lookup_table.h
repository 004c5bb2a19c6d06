#ifndef STRANDOR_XML_LOOKUP_TABLE_H
#define STRANDOR_XML_LOOKUP_TABLE_H

#include <QByteArray>

#include <cstring>
#include <vector>

/// Copies into the bytes already held by to: no allocation once a value of that size has
/// been seen, and none for an empty value when to has reserved its memory.
inline void assign_bytes(QByteArray &to, const char *data, int size)
{
    if (to.size() != size)
        to.resize(size);
    if (size > 0)
        memcpy(to.data(), data, size_t(size));
}

/// The entries of a MAPATTRIBUTE column: values by key. A table is emptied and refilled
/// with much the same keys for every block of a file, so entries and index keep their
/// memory: once warm, storing allocates nothing beyond an entry's own bytes.
class LOOKUP_TABLE {
public:
    void clear();
    /// Stores value under key; a key stored before takes the new value.
    void store(const char *key, int key_size, const char *value, int value_size);
    /// The value stored under key, or nullptr.
    const QByteArray *find(const char *key, int size) const;
    /// The memory the table holds: its entries, those kept for reuse too, and its index.
    size_t bytes() const { return held; }

private:
    struct Entry {
        QByteArray key;
        QByteArray value;
    };
    int slot_of(const char *key, int size) const;
    void grow();

    /// The first used entries are the table's; the rest wait to be reused.
    std::vector<Entry> entries;
    size_t used = 0;
    /// Open addressing over entries: an entry's number, or -1; the size is a power of two.
    std::vector<int> index;
    size_t held = 0;
};

#endif
