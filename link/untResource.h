/* Identifiers and texts of the program's string table. Shared by the C++ code
   and the Windows resource script, hence plain macros. UTF-8. */
#ifndef UNT_RESOURCE_H
#define UNT_RESOURCE_H

#define IDS_NO_LINK 65520
#define IDS_PORT_NOT_AVAILABLE 65521
#define IDS_PORT_BUSY 65522

/* "СOM" begins with a Cyrillic "С", as the register's technicians know it. */
#define TEXT_NO_LINK "Нет связи"
#define TEXT_PORT_NOT_AVAILABLE "СOM порт не доступен"
#define TEXT_PORT_BUSY "СOM порт занят другим приложением"

#endif
