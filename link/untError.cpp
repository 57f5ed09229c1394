#include "untError.h"

EOSError::EOSError(uint32_t AErrorCode, const std::string& Description)
    : std::runtime_error("Системная ошибка. Код: " + std::to_string(AErrorCode) + ". " +
                         Description),
      ErrorCode(AErrorCode) {}

void RaiseDriverError(int32_t Code, const std::string& Message, const std::string& Detail) {
    throw EDriverError(Code, Message, Detail);
}

void RaiseNoLink() {
    RaiseDriverError(peNoLink, LoadResString(rsNoLink));
}
