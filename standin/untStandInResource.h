/* Identifiers of the stand-in driver DLL's resources. Shared by its C++ code
   and its resource script, hence plain macros. */
#ifndef UNT_STANDIN_RESOURCE_H
#define UNT_STANDIN_RESOURCE_H

#define IDD_STANDIN_PROPS 100
#define IDC_COMNUMBER 101
#define IDC_BAUDRATE 102
#define IDC_TIMEOUT 103
#define IDC_ERROR 104

#endif
