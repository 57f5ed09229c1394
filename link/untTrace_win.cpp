#include "untError.h"
#include "untWinText.h"

void Trace(const std::string& Text) {
    OutputDebugStringW(Utf8ToWide(TracePrefix + Text + "\n").c_str());
}
