#include "value.h"

char VALUE::empty[SLACK] = {};

VALUE::~VALUE()
{
    if (capacity != 0)
        delete[] bytes;
}

// The old bytes are not kept: assign() replaces them all.
void VALUE::grow(size_t size)
{
    const size_t wanted = size < 16 ? 16 : size + size / 2;
    char *grown = new char[wanted + SLACK];
    if (capacity != 0)
        delete[] bytes;
    bytes = grown;
    capacity = wanted;
}
