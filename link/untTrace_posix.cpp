#include "untError.h"

#include <cstdio>

void TraceSystemDetail(const std::exception& E) {
    if (const std::string Detail = SystemDetail(E); !Detail.empty())
        std::fprintf(stderr, "%s%s\n", TracePrefix, Detail.c_str());
}
