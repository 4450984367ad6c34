// The merge alone: 5000 rows x 64 columns into a message with a row block
// that names every column, wrapping on. Prints the time per merge (median of
// several), the output size and the process's peak memory. Not a test: run
// it by hand or from scripts/bench.sh.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "merge_writer.h"
#include "result_table.h"
#include "settings.h"

namespace {

long PeakKilobytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void FillTable(int rows, int columns) {
  kelvorin::ResetRows();
  for (int r = 0; r < rows; ++r) {
    kelvorin::BeginRow(columns);
    for (int c = 0; c < columns; ++c) {
      // Every eighth cell is long enough to be wrapped between the margins.
      std::string cell = c % 8 == 0 ? "a longer value of row " + std::to_string(r) +
                                          " that runs past the right margin of the wrap"
                                    : "r" + std::to_string(r) + "c" + std::to_string(c);
      kelvorin::AddCell(cell.c_str());
    }
    kelvorin::EndRow();
  }
}

std::string Message(int columns) {
  std::string text =
      "Subject: Your orders\r\n<<< ann@example.com\r\nDear customer,\r\n%kelvorin%\r\n";
  for (int c = 1; c <= columns; ++c) text += "%%" + std::to_string(c) + "%% ";
  return text + "\r\n%kelvorin%\r\nRegards, %%2%%\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int columns = argc > 2 ? std::atoi(argv[2]) : 64;
  std::strcpy(kelvorin::g_settings.BlockMarker, "%kelvorin%");
  kelvorin::g_settings.FormatLeft = 2;
  kelvorin::g_settings.FormatRight = 60;
  long before_table = PeakKilobytes();
  FillTable(rows, columns);
  long after_table = PeakKilobytes();
  const std::string message = Message(columns);
  const std::string path =
      (std::filesystem::temp_directory_path() / "kelvorin-merge-bench.txt").string();
  std::vector<double> ms;
  for (int i = 0; i < 7; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (!kelvorin::WriteMergedMessage(path.c_str(), message.c_str())) return 1;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("rows %d, columns %d\n", rows, columns);
  std::printf("merge: median %.1f ms (min %.1f, max %.1f) over %zu runs\n", ms[ms.size() / 2],
              ms.front(), ms.back(), ms.size());
  std::printf("output: %llu bytes\n",
              static_cast<unsigned long long>(std::filesystem::file_size(path)));
  std::printf("peak memory: %ld KiB (table %ld KiB, merge on top %ld KiB)\n", PeakKilobytes(),
              after_table - before_table, PeakKilobytes() - after_table);
  std::filesystem::remove(path);
  return 0;
}
