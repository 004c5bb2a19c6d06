#include "lookup_table.h"

#include <QHash>

#include <algorithm>

void LOOKUP_TABLE::clear()
{
    used = 0;
    std::fill(index.begin(), index.end(), -1);
}

/// The slot that holds key, or the free slot where it would go.
int LOOKUP_TABLE::slot_of(const char *key, int size) const
{
    const size_t mask = index.size() - 1;
    size_t slot = qHashBits(key, size_t(size)) & mask;
    for (;;) {
        const int n = index[slot];
        if (n < 0)
            return int(slot);
        const QByteArray &stored = entries[size_t(n)].key;
        if (stored.size() == size && memcmp(stored.constData(), key, size_t(size)) == 0)
            return int(slot);
        slot = (slot + 1) & mask;
    }
}

void LOOKUP_TABLE::grow()
{
    held -= index.capacity() * sizeof(int);
    index.assign(std::max<size_t>(16, index.size() * 2), -1);
    held += index.capacity() * sizeof(int);
    for (size_t n = 0; n < used; ++n) {
        const QByteArray &key = entries[n].key;
        index[size_t(slot_of(key.constData(), key.size()))] = int(n);
    }
}

void LOOKUP_TABLE::store(const char *key, int key_size, const char *value, int value_size)
{
    // At most half full, so that a probe soon meets a free slot.
    if (2 * (used + 1) > index.size())
        grow();
    const int slot = slot_of(key, key_size);
    int n = index[size_t(slot)];
    if (n < 0) {
        n = int(used++);
        if (entries.size() < used) {
            held -= entries.capacity() * sizeof(Entry);
            entries.emplace_back();
            held += entries.capacity() * sizeof(Entry);
            // Reserved, so that an emptied table keeps the entries' memory.
            entries.back().key.reserve(16);
            entries.back().value.reserve(16);
            held += size_t(entries.back().key.capacity() + entries.back().value.capacity());
        }
        Entry &entry = entries[size_t(n)];
        held -= size_t(entry.key.capacity());
        assign_bytes(entry.key, key, key_size);
        held += size_t(entry.key.capacity());
        index[size_t(slot)] = n;
    }
    QByteArray &stored = entries[size_t(n)].value;
    held -= size_t(stored.capacity());
    assign_bytes(stored, value, value_size);
    held += size_t(stored.capacity());
}

const QByteArray *LOOKUP_TABLE::find(const char *key, int size) const
{
    if (used == 0)
        return nullptr;
    const int n = index[size_t(slot_of(key, size))];
    return n < 0 ? nullptr : &entries[size_t(n)].value;
}
