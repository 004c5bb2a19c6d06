// Fuzz target: bytes in as a configuration file; a tree or a syntax error out.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "attribute.h"
#include "constants.h"
#include "gl_param.h"
#include "global_parser.h"
#include "tree_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *in = size ? fmemopen(const_cast<uint8_t *>(data), size, "rb") : fopen("/dev/null", "rb");
    if (!in)
        return 0;
    if (parse_configuration(in) == 0)
        ATTRIBUTE().dump(GL_param.description_root, 0);
    fclose(in);
    free_tree(GL_param.description_root);
    GL_param.description_root = nullptr;
    return 0;
}
