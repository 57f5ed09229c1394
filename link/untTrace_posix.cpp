#include "untError.h"

#include <cstdio>

void Trace(const std::string& Text) {
    std::fprintf(stderr, "%s%s\n", TracePrefix, Text.c_str());
}
