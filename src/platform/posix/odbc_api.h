// The ODBC 3 call-level interface of the platform's driver manager
// (unixODBC on Linux).
#ifndef KELVORIN_PLATFORM_POSIX_ODBC_API_H_
#define KELVORIN_PLATFORM_POSIX_ODBC_API_H_

#include <sql.h>
#include <sqlext.h>

#endif  // KELVORIN_PLATFORM_POSIX_ODBC_API_H_
