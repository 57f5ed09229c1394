# Cross-build for 32-bit Windows: mingw-w64.cmake with the i686 compilers.
set(ORMANT_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
