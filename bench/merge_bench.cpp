// The merge alone, against a plain copy of the bytes it writes. Not a test:
// run it by hand or from scripts/bench.sh.
//
//   kelvorin_merge_bench [ROWS [COLUMNS]] [--block wide|text] [--no-wrap] [--dir DIR]
//                        [--runs N]
//
// wide (the default, 5000 x 64): a row block that names every column, wrapping
// on (every eighth cell is long enough to wrap); --no-wrap turns it off, which
// leaves the placeholders alone. text: a block of five placeholders in about
// 200 bytes of text per row, wrapping off, the shape of a typical order list.
//
// Each merge is WriteMergedMessage whole: both passes, the temporary file,
// fsync, rename and the fsync of the folder. The limits it is held against
// write the same output bytes: "copy" with one write, fsync, rename and fsync
// of the folder (the same durability), "memcpy+write" with a copy in memory
// and one write, nothing flushed. With --dir on a tmpfs (/dev/shm) every
// fsync is free, which leaves the CPU and system-call cost alone.
//
// Prints medians (and min, max) of N runs, the output size, the peak memory,
// and one "RESULT key=value ..." line for scripts.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "merge_writer.h"
#include "result_table.h"
#include "settings.h"

namespace {

struct Options {
  int rows = 5000;
  int columns = 64;
  bool text_block = false;
  bool wrap = true;
  std::string dir = std::filesystem::temp_directory_path().string();
  int runs = 7;
};

struct Timing {
  double median, min, max;
};

// The peak of this process's own memory. Not getrusage: its ru_maxrss survives
// execve, so a bench started by a bigger parent (Python, say) would report the
// parent's peak; VmHWM belongs to the address space made by the exec.
long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--block" && has_value) {
      std::string kind = argv[++i];
      if (kind != "wide" && kind != "text") return false;
      o->text_block = kind == "text";
    } else if (arg == "--no-wrap") {
      o->wrap = false;
    } else if (arg == "--dir" && has_value) {
      o->dir = argv[++i];
    } else if (arg == "--runs" && has_value) {
      o->runs = std::max(1, std::atoi(argv[++i]));
    } else if (positional == 0) {
      o->rows = std::atoi(argv[i]), ++positional;
    } else if (positional == 1) {
      o->columns = std::atoi(argv[i]), ++positional;
    } else {
      return false;
    }
  }
  // The text block names columns 1 to 5 and is never wrapped.
  if (o->text_block) o->columns = std::max(o->columns, 5), o->wrap = false;
  return o->rows > 0 && o->columns > 0 && o->columns <= kelvorin::kMaxColumns;
}

void FillTable(kelvorin::ResultTable& table, int rows, int columns) {
  for (int r = 0; r < rows; ++r) {
    table.BeginRow(columns);
    for (int c = 0; c < columns; ++c) {
      // Every eighth cell is long enough to be wrapped between the margins.
      std::string cell = c % 8 == 0 ? "a longer value of row " + std::to_string(r) +
                                          " that runs past the right margin of the wrap"
                                    : "r" + std::to_string(r) + "c" + std::to_string(c);
      if (!table.AddCell(cell.c_str())) std::abort();
    }
    table.EndRow();
  }
}

std::string WideMessage(int columns) {
  std::string text =
      "Subject: Your orders\r\n<<< ann@example.com\r\nDear customer,\r\n%kelvorin%\r\n";
  for (int c = 1; c <= columns; ++c) text += "%%" + std::to_string(c) + "%% ";
  return text + "\r\n%kelvorin%\r\nRegards, %%2%%\r\n";
}

// About 200 bytes of text and five placeholders per row.
std::string TextMessage() {
  return "Subject: Your orders\r\n<<< ann@example.com\r\nDear %%1%%,\r\n%kelvorin%\r\n"
         "  Order #%%2%% placed on %%3%%: \"%%4%%\", amount EUR %%5%%. Thank you for\r\n"
         "  choosing Northwind Books; the order ships from our warehouse within two\r\n"
         "  working days of the date above.\r\n"
         "%kelvorin%\r\nRegards, Northwind Books\r\n";
}

Timing Measure(int runs, const std::function<bool()>& run) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (!run()) {
      std::fputs("merge_bench: a run failed\n", stderr);
      std::exit(1);
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), ms.back()};
}

bool SyncFolder(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  fsync(fd);
  return close(fd) == 0;
}

// The limit of the crash-safe rewrite: the same bytes with one write, the same
// flushes and the same rename.
bool DurableCopy(const std::string& bytes, const std::string& dir, const std::string& target) {
  std::string temp = dir + "/.copy-bench-XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok =
      write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  return ok && rename(temp.c_str(), target.c_str()) == 0 && SyncFolder(dir);
}

// The bare limit: the bytes copied in memory once and written once.
bool MemcpyWrite(const std::string& bytes, const std::string& target) {
  char* copy = static_cast<char*>(std::malloc(bytes.size()));
  if (copy == nullptr) return false;
  std::memcpy(copy, bytes.data(), bytes.size());
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0 && write(fd, copy, bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (fd >= 0) ok = close(fd) == 0 && ok;
  std::free(copy);
  return ok;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Print(const char* what, const Timing& t, int runs) {
  std::printf("%s: median %.2f ms (min %.2f, max %.2f) over %d runs\n", what, t.median, t.min,
              t.max, runs);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fputs(
        "usage: kelvorin_merge_bench [ROWS [COLUMNS]] [--block wide|text] [--no-wrap]"
        " [--dir DIR] [--runs N]\n",
        stderr);
    return 2;
  }
  kelvorin::MergeOptions options;
  options.left = o.wrap ? 2 : 0;
  options.right = o.wrap ? 60 : 0;
  long before_table = PeakKilobytes();
  kelvorin::ResultTable table(true);
  FillTable(table, o.rows, o.columns);
  long after_table = PeakKilobytes();
  const std::string message = o.text_block ? TextMessage() : WideMessage(o.columns);
  const std::string path = o.dir + "/kelvorin-merge-bench.txt";
  Timing merge = Measure(o.runs, [&] {
    return kelvorin::WriteMergedMessage(path.c_str(), message.data(), message.size(), table,
                                        options);
  });
  long after_merge = PeakKilobytes();
  const std::string output = ReadAll(path);
  Timing copy = Measure(o.runs, [&] { return DurableCopy(output, o.dir, path); });
  Timing plain = Measure(o.runs, [&] { return MemcpyWrite(output, path); });
  std::filesystem::remove(path);

  std::printf("rows %d, columns %d, %s block, wrapping %s, files in %s\n", o.rows, o.columns,
              o.text_block ? "text" : "wide", o.wrap ? "on" : "off", o.dir.c_str());
  Print("merge", merge, o.runs);
  Print("copy (write+fsync+rename)", copy, o.runs);
  Print("memcpy+write", plain, o.runs);
  std::printf("merge / copy: %.2f, merge / memcpy+write: %.2f\n", merge.median / copy.median,
              merge.median / plain.median);
  std::printf("output: %zu bytes\n", output.size());
  std::printf("peak memory: %ld KiB (table %ld KiB, merge on top %ld KiB)\n", after_merge,
              after_table - before_table, after_merge - after_table);
  std::printf(
      "RESULT rows=%d columns=%d block=%s wrap=%d bytes=%zu merge_ms=%.3f copy_ms=%.3f"
      " memcpy_write_ms=%.3f table_kib=%ld merge_kib=%ld\n",
      o.rows, o.columns, o.text_block ? "text" : "wide", o.wrap ? 1 : 0, output.size(),
      merge.median, copy.median, plain.median, after_table - before_table,
      after_merge - after_table);
  return 0;
}
