// The ODBC 3 call-level interface of the platform's driver manager
// (odbc32.dll on Windows, whose headers need <windows.h> first).
#ifndef KELVORIN_PLATFORM_WIN32_ODBC_API_H_
#define KELVORIN_PLATFORM_WIN32_ODBC_API_H_

#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#endif  // KELVORIN_PLATFORM_WIN32_ODBC_API_H_
