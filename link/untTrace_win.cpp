#include "untError.h"
#include "untWinText.h"

void TraceSystemDetail(const std::exception& E) {
    if (const std::string Detail = SystemDetail(E); !Detail.empty())
        OutputDebugStringW(Utf8ToWide(TracePrefix + Detail + "\n").c_str());
}
