#pragma once
// The tests put their own CreateFileA here: Wine lets a second program open a
// COM port that is already open, so a busy port cannot be made for real there.
#include <windows.h>

using TCreateFileA = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE);
extern TCreateFileA ComPortCreateFile;
