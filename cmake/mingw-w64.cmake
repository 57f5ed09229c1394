# Cross-build for Windows with mingw-w64; tests run under Wine. The presets
# win32 and win64 use it (cmake --preset win64), or:
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
# 64-bit by default; -DORMANT_MINGW_ARCH=i686 (or the toolchain file
# mingw-w64-i686.cmake) builds 32-bit.
if(NOT ORMANT_MINGW_ARCH)
    set(ORMANT_MINGW_ARCH x86_64)
endif()
set(ORMANT_MINGW_ARCH ${ORMANT_MINGW_ARCH} CACHE STRING "x86_64 (64-bit) or i686 (32-bit)")
# try_compile projects read this file again and need the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORMANT_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORMANT_MINGW_ARCH})

set(ORMANT_MINGW_PREFIX ${ORMANT_MINGW_ARCH}-w64-mingw32)
# The POSIX threads flavour: the other one has no std::mutex or std::thread,
# which GoogleTest needs.
set(CMAKE_C_COMPILER ${ORMANT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORMANT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORMANT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORMANT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in (-static: libstdc++, libgcc and winpthread), so the
# programs import system DLLs only and run alone on a bare Windows.
# No link time in the PE header either: the same commit builds the same bytes,
# so the operator's archive can be checked against its SHA256SUMS.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Test programs run under Wine in a prefix of the build's own, made on first
# use (wine-run.sh); ORMANT_WINEPREFIX moves it elsewhere.
set(ORMANT_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${ORMANT_WINEPREFIX}" CACHE STRING
    "Runs the test programs")
