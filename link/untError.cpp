#include "untError.h"

EOSError::EOSError(uint32_t AErrorCode, const std::string& Description, std::string ADetail)
    : std::runtime_error("Системная ошибка. Код: " + std::to_string(AErrorCode) + ". " +
                         Description),
      ErrorCode(AErrorCode), Detail(std::move(ADetail)) {}

std::string SystemDetail(const std::exception& E) {
    if (const auto* Port = dynamic_cast<const EDriverError*>(&E))
        return Port->Detail;
    if (const auto* System = dynamic_cast<const EOSError*>(&E))
        return System->Detail;
    return {};
}

void TraceSystemDetail(const std::exception& E) {
    if (const std::string Detail = SystemDetail(E); !Detail.empty())
        Trace(Detail);
}

std::string CurrentFailureText() {
    try {
        throw;
    } catch (const std::exception& E) {
        TraceSystemDetail(E);
        return E.what();
    } catch (...) {
        return "Неизвестная ошибка";
    }
}

void RaiseDriverError(int32_t Code, const std::string& Message, const std::string& Detail) {
    throw EDriverError(Code, Message, Detail);
}

void RaiseNoLink() {
    RaiseDriverError(peNoLink, LoadResString(rsNoLink));
}
