#pragma once
// Windows only: text at the system's edge. The program keeps UTF-8 inside;
// Win32 speaks UTF-16.
#include <string>
#include <windows.h>

std::string WideToUtf8(const wchar_t* Text, int Length);
std::string WideToUtf8(const std::wstring& Text);
std::wstring Utf8ToWide(const std::string& Text);
// The system's description of an error code or HRESULT without the line
// break it ends with; empty where the system has none (Wine lacks many).
std::string SystemErrorText(DWORD Code);
