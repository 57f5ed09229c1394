// The string table compiled in, where there are no Windows resources.
#include "untError.h"

std::string LoadResString(unsigned Id) {
    switch (Id) {
    case IDS_NO_LINK:
        return TEXT_NO_LINK;
    case IDS_PORT_NOT_AVAILABLE:
        return TEXT_PORT_NOT_AVAILABLE;
    case IDS_PORT_BUSY:
        return TEXT_PORT_BUSY;
    }
    throw std::runtime_error("Нет строки ресурса " + std::to_string(Id));
}
