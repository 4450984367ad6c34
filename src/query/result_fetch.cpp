#include "result_fetch.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "odbc_connection.h"
#include "platform.h"
#include "result_table.h"

namespace kelvorin {
namespace {

constexpr SQLULEN kMaxDataArea = 65536;
constexpr std::size_t kScratch = kNumberTextCapacity;
constexpr char kNullText[] = "<null>";
// A text area holds values up to this size; a longer one is read again whole
// (ReadWhole). SQLite's driver pads every bound text area to its full size on
// every fetch, so areas sized for the longest value a column may hold (64 KiB
// for its TEXT) cost more than all the rest of a run of many rows.
constexpr SQLULEN kTextArea = 512;
// UTF-8, the 8-bit text of Linux drivers, takes up to 4 bytes a character.
constexpr SQLULEN kBytesPerCharacter = 4;
static_assert(kMaxResultBytes == std::size_t{256} << 20, "Failure::kRowsTooLarge names the cap");

// Bytes for text of n characters plus extra bytes and the NUL, rounded up to a
// multiple of 4, at most cap; an unknown size (0) gets the whole cap.
SQLULEN TextArea(SQLULEN characters, SQLULEN per_character, SQLULEN extra, SQLULEN cap) {
  if (characters == 0 || characters >= cap) return cap;
  SQLULEN bytes = (characters * per_character + extra + 1 + 3) & ~static_cast<SQLULEN>(3);
  return bytes > cap ? cap : bytes;
}

std::size_t AlignUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

bool IsInteger(SQLSMALLINT t) {
  return t == SQL_BIT || t == SQL_TINYINT || t == SQL_INTEGER || t == SQL_SMALLINT;
}
bool IsFloating(SQLSMALLINT t) {
  return t == SQL_FLOAT || t == SQL_REAL || t == SQL_DOUBLE;
}
bool IsSizedText(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_NUMERIC || t == SQL_DECIMAL;
}
bool IsWideText(SQLSMALLINT t) {
  return t == SQL_WCHAR || t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_LONGVARCHAR;
}

}  // namespace

SQLULEN DataAreaSize(SQLSMALLINT sql_type, SQLULEN size, SQLLEN display_size) {
  if (IsInteger(sql_type)) return sizeof(SQLBIGINT);
  if (IsFloating(sql_type)) return sizeof(SQLDOUBLE);
  // NUMERIC and DECIMAL sizes count digits: add the sign, the point and the
  // zero that drivers write before it when scale equals precision (-0.12345).
  if (sql_type == SQL_NUMERIC || sql_type == SQL_DECIMAL) return TextArea(size, 1, 3, kMaxDataArea);
  if (IsSizedText(sql_type)) return TextArea(size, kBytesPerCharacter, 0, kTextArea);
  SQLULEN shown = display_size > 0 ? static_cast<SQLULEN>(display_size) : 0;
  return TextArea(shown, IsWideText(sql_type) ? kBytesPerCharacter : 1, 0, kTextArea);
}

namespace {

// One result column: as described by the driver, and where it is bound.
struct ColumnInfo {
  SQLSMALLINT sql_type;
  SQLULEN size;            // as described; after the mapping, the bytes of its data area
  SQLSMALLINT bound_type;  // SQL_C_SBIGINT, SQL_C_DOUBLE or SQL_C_CHAR
  std::size_t data_offset;
  std::size_t indicator_offset;
};

// The working record of one fetch: one buffer that every column of a row is
// bound into, reused for each row.
struct RowBinding {
  SQLSMALLINT column_count = 0;
  std::size_t row_size = 0;
  ColumnInfo* columns = nullptr;        // owned
  unsigned char* row_buffer = nullptr;  // owned
  char* long_value = nullptr;           // owned: a value longer than its area
  ResultTable* table = nullptr;         // filled
  StepFailure* failure = nullptr;       // why the fetch failed
};

// Integers are bound 64 bits wide: SQLite describes its INTEGER, which holds
// 64 bits, as SQL_INTEGER, and its driver wraps larger values into a 32-bit
// area without a warning.
SQLSMALLINT BoundType(SQLSMALLINT sql_type) {
  if (IsInteger(sql_type)) return SQL_C_SBIGINT;
  if (IsFloating(sql_type)) return SQL_C_DOUBLE;
  return SQL_C_CHAR;
}

// The type comes from the SQL_DESC_TYPE field, not from SQLDescribeCol:
// asked there for a type or nullability, psqlODBC sends catalog queries to
// the server, two per table, a third of a whole run's time. The field gives
// dates and times as SQL_DATETIME, which binds as text like their own codes.
bool DescribeColumn(SQLHSTMT statement, SQLUSMALLINT number, ColumnInfo& c, StepFailure* failure) {
  SQLRETURN rc =
      SQLDescribeCol(statement, number, nullptr, 0, nullptr, nullptr, &c.size, nullptr, nullptr);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure)) return false;
  SQLLEN type = SQL_UNKNOWN_TYPE;
  rc = SQLColAttribute(statement, number, SQL_DESC_TYPE, nullptr, 0, nullptr, &type);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure)) return false;
  c.sql_type = static_cast<SQLSMALLINT>(type);
  c.bound_type = BoundType(c.sql_type);
  SQLLEN display = 0;
  if (c.bound_type == SQL_C_CHAR && !IsSizedText(c.sql_type)) {
    rc = SQLColAttribute(statement, number, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display);
    if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure)) return false;
  }
  c.size = DataAreaSize(c.sql_type, c.size, display);
  return true;
}

bool DescribeColumns(SQLHSTMT statement, RowBinding& b) {
  std::size_t bytes = sizeof(ColumnInfo) * static_cast<std::size_t>(b.column_count);
  b.columns = static_cast<ColumnInfo*>(platform::Allocate(bytes));
  if (b.columns == nullptr) return Fail(b.failure, Failure::kOutOfMemory);
  std::memset(b.columns, 0, bytes);
  for (SQLSMALLINT i = 0; i < b.column_count; ++i) {
    if (!DescribeColumn(statement, static_cast<SQLUSMALLINT>(i + 1), b.columns[i], b.failure)) {
      return false;
    }
  }
  return true;
}

// Every value and indicator aligned for its type: doubles and the SQLLEN
// indicators are 8 bytes on 64-bit builds.
void LayOutRow(RowBinding& b) {
  std::size_t offset = 0;
  for (SQLSMALLINT i = 0; i < b.column_count; ++i) {
    ColumnInfo& c = b.columns[i];
    c.data_offset = AlignUp(offset, 8);
    c.indicator_offset = AlignUp(c.data_offset + c.size, alignof(SQLLEN));
    offset = c.indicator_offset + sizeof(SQLLEN);
  }
  b.row_size = AlignUp(offset, 8);
}

bool BindColumns(SQLHSTMT statement, RowBinding& b) {
  for (SQLSMALLINT i = 0; i < b.column_count; ++i) {
    ColumnInfo& c = b.columns[i];
    SQLRETURN rc = SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), c.bound_type,
                              b.row_buffer + c.data_offset, static_cast<SQLLEN>(c.size),
                              reinterpret_cast<SQLLEN*>(b.row_buffer + c.indicator_offset));
    if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, b.failure)) return false;
  }
  return true;
}

// The length/indicator the driver wrote for c in row.
SQLLEN IndicatorOf(const ColumnInfo& c, const unsigned char* row) {
  SQLLEN indicator;
  std::memcpy(&indicator, row + c.indicator_offset, sizeof indicator);
  return indicator;
}

// The text of one fetched value and its length; numbers are formatted into
// scratch (kScratch bytes).
const char* CellText(const ColumnInfo& c, const unsigned char* row, char* scratch, SQLLEN* length) {
  if (IndicatorOf(c, row) == SQL_NULL_DATA) {
    *length = sizeof kNullText - 1;
    return kNullText;
  }
  const unsigned char* data = row + c.data_offset;
  if (c.bound_type == SQL_C_SBIGINT) {
    SQLBIGINT value;
    std::memcpy(&value, data, sizeof value);
    // what printf's "%lld" writes, without parsing a format per cell
    *length =
        std::to_chars(scratch, scratch + kScratch, static_cast<long long>(value)).ptr - scratch;
    return scratch;
  }
  if (c.bound_type == SQL_C_DOUBLE) {
    SQLDOUBLE value;
    std::memcpy(&value, data, sizeof value);
    *length = static_cast<SQLLEN>(FormatHundredths(value, scratch));
    return scratch;
  }
  return reinterpret_cast<const char*>(data);
}

// Whether the fetch's only warnings say that a text was cut to its area
// (01004): drivers under-report sizes (psqlODBC gives an unsized varchar 255
// characters), and reading the value again mends that.
bool OnlyCutText(SQLHSTMT statement) {
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLSMALLINT record = 1;
  for (; SQL_SUCCEEDED(
           SQLGetDiagRec(SQL_HANDLE_STMT, statement, record, state, &native, nullptr, 0, &length));
       ++record) {
    if (std::strcmp(reinterpret_cast<char*>(state), "01004") != 0) return false;
  }
  return record > 1;
}

bool IsCut(const ColumnInfo& c, const unsigned char* row) {
  SQLLEN indicator = IndicatorOf(c, row);
  return c.bound_type == SQL_C_CHAR &&
         (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(c.size));
}

bool AnyCut(const RowBinding& b) {
  for (SQLSMALLINT i = 0; i < b.column_count; ++i) {
    if (IsCut(b.columns[i], b.row_buffer)) return true;
  }
  return false;
}

// The whole of a value that was cut to its area, read again with SQLGetData
// (every driver we tested allows that on a bound column: SQL_GD_BOUND), and
// its length in bytes. Null with why in b.failure: no memory, or a value
// longer than any a message takes.
const char* ReadWhole(SQLHSTMT statement, SQLUSMALLINT number, RowBinding& b, SQLLEN* length) {
  if (b.long_value == nullptr) {
    b.long_value = static_cast<char*>(platform::Allocate(kMaxDataArea));
    if (b.long_value == nullptr) {
      (void)Fail(b.failure, Failure::kOutOfMemory);
      return nullptr;
    }
  }
  SQLRETURN rc = SQLGetData(statement, number, SQL_C_CHAR, b.long_value,
                            static_cast<SQLLEN>(kMaxDataArea), length);
  if (!CheckOdbc(rc, Passes::kSuccessOnly, SQL_HANDLE_STMT, statement, b.failure)) return nullptr;
  // A driver may fill the area exactly, without its NUL and without a warning
  // (MariaDB's does so in SQLFetch, though its SQLGetData warns).
  if (*length == SQL_NO_TOTAL || *length >= static_cast<SQLLEN>(kMaxDataArea)) {
    (void)Fail(b.failure, Failure::kValueTooLong);
    return nullptr;
  }
  return b.long_value;
}

// Whether a text the driver gave as length bytes (SQL_C_CHAR lengths count
// bytes) holds no NUL before its end: C strings would cut it there, and a
// value merged in part is a wrong message (MariaDB's CHAR(0), a binary
// column). Sets *length to the text's own length, which the cell keeps;
// false with the 1-based column number in *failure.
bool HoldsNoNul(const char* text, SQLLEN* length, int number, StepFailure* failure) {
  const std::size_t own = std::strlen(text);
  if (own >= static_cast<std::size_t>(*length)) {
    *length = static_cast<SQLLEN>(own);
    return true;
  }
  return Fail(failure, Failure::kNulInValue, std::to_string(number) + ")");
}

// The text of column i of the fetched row and its length, read whole when it
// was cut; null with why in b.failure.
const char* ValueText(SQLHSTMT statement, RowBinding& b, SQLSMALLINT i, bool cut, char* scratch,
                      SQLLEN* length) {
  const ColumnInfo& c = b.columns[i];
  *length = IndicatorOf(c, b.row_buffer);
  // Decided before the length is replaced by that of the text given back.
  const bool from_driver = c.bound_type == SQL_C_CHAR && *length != SQL_NULL_DATA;
  const char* value = cut && IsCut(c, b.row_buffer)
                          ? ReadWhole(statement, static_cast<SQLUSMALLINT>(i + 1), b, length)
                          : CellText(c, b.row_buffer, scratch, length);
  if (value == nullptr || !from_driver) return value;
  return HoldsNoNul(value, length, i + 1, b.failure) ? value : nullptr;
}

// Stores the fetched row; cut says that some of its texts were cut and must
// be read whole. False with why in b.failure.
bool StoreRow(SQLHSTMT statement, RowBinding& b, bool cut) {
  char scratch[kScratch];
  b.table->BeginRow(b.column_count);
  for (SQLSMALLINT i = 0; i < b.column_count; ++i) {
    SQLLEN length = 0;
    const char* text = ValueText(statement, b, i, cut, scratch, &length);
    if (text == nullptr) return false;
    bool too_large = false;
    if (!b.table->AddCell(text, static_cast<std::size_t>(length), &too_large)) {
      return Fail(b.failure, too_large ? Failure::kRowsTooLarge : Failure::kOutOfMemory);
    }
  }
  b.table->EndRow();
  return true;
}

// Reads the whole result. A row that comes with a warning (a value cut to its
// area that cannot be read whole) or an error fails the fetch: merging the
// rows before it would send a message with rows silently missing.
bool FetchRows(SQLHSTMT statement, RowBinding& b) {
  for (;;) {
    SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) break;
    // A text cut to its area is read again whole. Drivers say so with 01004,
    // or, like MariaDB's for a value exactly as long as its area, only by
    // its length.
    bool cut =
        (rc == SQL_SUCCESS || (rc == SQL_SUCCESS_WITH_INFO && OnlyCutText(statement))) && AnyCut(b);
    if (!cut && !CheckOdbc(rc, Passes::kSuccessOnly, SQL_HANDLE_STMT, statement, b.failure)) {
      return false;
    }
    if (!StoreRow(statement, b, cut)) return false;
  }
  if (b.table->RowCount() == 0) return Fail(b.failure, Failure::kNoData);
  return true;
}

// The columns stay bound to the row buffer that is about to be freed: unbind
// them so nothing can write there.
bool Unbind(SQLHSTMT statement, StepFailure* failure) {
  SQLRETURN rc = SQLFreeStmt(statement, SQL_UNBIND);
  return CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure);
}

bool BindAndFetch(SQLHSTMT statement, RowBinding& b) {
  if (!DescribeColumns(statement, b)) return false;
  LayOutRow(b);
  b.row_buffer = static_cast<unsigned char*>(platform::Allocate(b.row_size));
  if (b.row_buffer == nullptr) return Fail(b.failure, Failure::kOutOfMemory);
  bool fetched = BindColumns(statement, b) && FetchRows(statement, b);
  return Unbind(statement, b.failure) && fetched;
}

}  // namespace

// By hand rather than by std::to_chars: the library's floating-point text
// brings in libm, whose loading costs every run more than all its numbers.
// A double is a 53-bit whole number times a power of two, so 100 times it
// is exact in 64 bits, and so are its hundredths and what is left behind
// them; rounding that, halves to even, is printf's rounding. Doubles of 1e16
// and more are whole numbers, rare in a mail: printf writes them.
std::size_t FormatHundredths(double value, char* out) {
  const char* sign = std::signbit(value) ? "-" : "";
  if (std::isnan(value) || std::isinf(value) || !(std::fabs(value) < 1e16)) {
    const char* format = std::isnan(value) ? "%snan" : std::isinf(value) ? "%sinf" : "%s%.2f";
    return static_cast<std::size_t>(std::snprintf(out, kScratch, format, sign, std::fabs(value)));
  }
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);  // 0: subnormal
  const std::uint64_t whole =
      (bits & ((std::uint64_t{1} << 52) - 1)) | (biased ? std::uint64_t{1} << 52 : 0);
  const int shift = 1075 - (biased ? biased : 1);  // |value| = whole / 2^shift
  std::uint64_t hundredths = whole * 100;          // below 2^60
  if (shift <= 0) {
    hundredths <<= -shift;  // below 1e16: at most one place
  } else {
    const std::uint64_t rest =
        shift > 60 ? hundredths : hundredths & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = shift > 61 ? ~std::uint64_t{0} : std::uint64_t{1} << (shift - 1);
    hundredths = shift > 60 ? 0 : hundredths >> shift;
    if (rest > half || (rest == half && hundredths % 2 == 1)) ++hundredths;
  }
  char* at = out;
  if (*sign != '\0') *at++ = '-';
  at = std::to_chars(at, out + kScratch, hundredths / 100).ptr;
  *at++ = '.';
  *at++ = static_cast<char>('0' + hundredths / 10 % 10);
  *at++ = static_cast<char>('0' + hundredths % 10);
  return static_cast<std::size_t>(at - out);
}

bool FetchResults(SQLHSTMT statement, ResultTable* table, StepFailure* failure) {
  RowBinding b;
  b.table = table;
  b.failure = failure;
  SQLRETURN rc = SQLNumResultCols(statement, &b.column_count);
  if (!CheckOdbc(rc, Passes::kSuccessOrInfo, SQL_HANDLE_STMT, statement, failure)) return false;
  if (b.column_count <= 0) return Fail(failure, Failure::kNoColumns);
  bool fetched = BindAndFetch(statement, b);
  platform::Release(b.columns);
  platform::Release(b.row_buffer);
  platform::Release(b.long_value);
  return fetched;
}

}  // namespace kelvorin
