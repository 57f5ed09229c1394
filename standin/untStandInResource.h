/* Shared by the DLL's code and its resource script, hence plain macros. */
#pragma once

#define IDD_STANDIN_PROPS 100
#define IDC_COMNUMBER 101
#define IDC_BAUDRATE 102
#define IDC_TIMEOUT 103
#define IDC_ERROR 104
