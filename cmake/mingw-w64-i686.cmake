# Cross build for 32-bit Windows. A 32-bit program sees the 32-bit ODBC
# drivers and data sources (those of %windir%\SysWOW64\odbcad32.exe), which a
# 64-bit one does not.
set(KELVORIN_MINGW_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
