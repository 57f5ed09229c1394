#pragma once
// Failures raised by the system itself. Every failure is an exception that
// carries its (UTF-8) text; std::runtime_error plays the general failure type.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "untResource.h"

// Identifiers of the program's string table (the Windows STRINGTABLE resource;
// compiled in elsewhere).
enum : unsigned {
    rsNoLink = IDS_NO_LINK,
    rsPortNotAvailable = IDS_PORT_NOT_AVAILABLE,
    rsPortBusy = IDS_PORT_BUSY,
};

// Text of a string-table entry, UTF-8; throws for an unknown identifier.
std::string LoadResString(unsigned Id);

// A failure of the port itself: no link, port absent, port held elsewhere.
class EDriverError : public std::runtime_error {
public:
    EDriverError(int32_t ACode, const std::string& Message, std::string ADetail = {})
        : std::runtime_error(Message), Code(ACode), Detail(std::move(ADetail)) {}
    int32_t Code;
    // What the operating system said, where it said anything; kept out of the
    // message so the log shows the register's texts exactly.
    std::string Detail;
};

enum : int32_t {
    peNoLink = -1,
    pePortNotAvailable = -2,
    pePortBusy = -3,
};

// A failed operating-system call: the code and the (Russian) description.
class EOSError : public std::runtime_error {
public:
    EOSError(uint32_t AErrorCode, const std::string& Description, std::string ADetail = {});
    uint32_t ErrorCode;
    // The system's own words, as in EDriverError.
    std::string Detail;
};

// The system's own words that came with a failure of the port (the Detail of
// EDriverError or EOSError), empty for any other. They go out only through
// TraceSystemDetail, never into a text the operator reads.
std::string SystemDetail(const std::exception& E);

// Writes a line for the technician where one looks for it: the standard
// error on Linux, the debugger's output on Windows (OutputDebugString, which
// DebugView shows; a window program has no standard error there). It begins
// with TracePrefix, so it can be told among other programs' lines.
void Trace(const std::string& Text);
inline constexpr char TracePrefix[] = "ormant: ";

// Traces the system's own words that came with E, if any.
void TraceSystemDetail(const std::exception& E);

// The text of the failure being handled, for a catch (...) block that shows
// it; the system's own words that came with it go to TraceSystemDetail, so
// the log shows the program's texts exactly. A failure that is no
// std::exception brings no text of its own.
std::string CurrentFailureText();

[[noreturn]] void RaiseDriverError(int32_t Code, const std::string& Message,
                                   const std::string& Detail = {});
[[noreturn]] void RaiseNoLink();
