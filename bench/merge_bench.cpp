// The merge alone, with Google Benchmark: WriteMergedMessage whole (both
// passes, the temporary file, fsync, rename, fsync of the folder) against a
// durable copy of the very bytes it writes (one write, fsync, rename, fsync of
// the folder), the least any crash-safe rewrite of that file costs.
//
//   kelvorin_merge_bench [--dir DIR] [Google Benchmark flags]
//
// The files go to DIR (default: the temporary folder). On a tmpfs such as
// /dev/shm every fsync returns at once, which leaves the CPU and system-call
// cost alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "merge_writer.h"
#include "result_table.h"

namespace {

struct Case {
  const char* name;
  int rows;
  int columns;
  bool text;  // about 200 bytes of text around five placeholders per row
  bool wrap;  // margins 2 and 60: every eighth cell is long enough to wrap
};

const Case kCases[] = {{"text/3", 3, 5, true, false},
                       {"text/5000", 5000, 5, true, false},
                       {"wide/5000x64/wrap", 5000, 64, false, true},
                       {"wide/5000x64/nowrap", 5000, 64, false, false}};

std::string g_dir = std::filesystem::temp_directory_path().string();

std::string Cell(int row, int column) {
  if (column % 8 == 0)
    return "a longer value of row " + std::to_string(row) +
           " that runs past the right margin of the wrap";
  return "r" + std::to_string(row) + "c" + std::to_string(column);
}

std::string Message(const Case& c) {
  std::string block;
  if (c.text) {
    block =
        "  Order #%%2%% placed on %%3%%: \"%%4%%\", amount EUR %%5%%. Thank you for\r\n"
        "  choosing Northwind Books; the order ships from our warehouse within two\r\n"
        "  working days of the date above.\r\n";
  } else {
    for (int col = 1; col <= c.columns; ++col) block += "%%" + std::to_string(col) + "%% ";
    block += "\r\n";
  }
  return "Subject: Your orders\r\n<<< ann@example.com\r\nDear %%1%%,\r\n%kelvorin%\r\n" + block +
         "%kelvorin%\r\nRegards, %%2%%\r\n";
}

// Everything that speaks the program's API: the result table of c's rows, and
// one merge of message into path with c's margins, as a run merges it.
void Fill(const Case& c, kelvorin::ResultTable& table) {
  for (int row = 0; row < c.rows; ++row) {
    table.BeginRow(c.columns);
    for (int col = 0; col < c.columns; ++col) {
      if (!table.AddCell(Cell(row, col).c_str())) std::abort();
    }
    table.EndRow();
  }
}

bool Merge(const Case& c, const kelvorin::ResultTable& table, const std::string& message,
           const std::string& path) {
  kelvorin::MergeOptions options;
  options.left = c.wrap ? 2 : 0;
  options.right = c.wrap ? 60 : 0;
  kelvorin::StepFailure failure;
  return kelvorin::WriteMergedMessage(path.c_str(), message.data(), message.size(), table, options,
                                      &failure);
}

bool DurableCopy(const std::string& bytes, const std::string& target) {
  std::string temp = g_dir + "/.copy-bench-XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok =
      write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok && rename(temp.c_str(), target.c_str()) == 0;
  int folder = open(g_dir.c_str(), O_RDONLY | O_DIRECTORY);
  ok = folder >= 0 && fsync(folder) == 0 && ok;
  if (folder >= 0) close(folder);
  return ok;
}

// Merges (copy false) or copies the merged output durably (copy true), and
// counts the output's bytes.
void Run(benchmark::State& state, const Case& c, bool copy) {
  const std::string path = g_dir + "/kelvorin-merge-bench.txt";
  const std::string message = Message(c);
  kelvorin::ResultTable table(true);
  Fill(c, table);
  if (!Merge(c, table, message, path)) return state.SkipWithError("the merge failed");
  std::ifstream in(path, std::ios::binary);
  const std::string output{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (auto _ : state) {
    if (!(copy ? DurableCopy(output, path) : Merge(c, table, message, path)))
      return state.SkipWithError("a write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
  state.counters["output_bytes"] = static_cast<double>(output.size());
  std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "--dir") == 0) {
    g_dir = argv[2];
  } else if (argc != 1) {
    std::fputs("usage: kelvorin_merge_bench [--dir DIR] [--benchmark_...]\n", stderr);
    return 2;
  }
  for (const Case& c : kCases) {
    for (bool copy : {false, true}) {
      std::string name = std::string(copy ? "copy/" : "merge/") + c.name;
      benchmark::RegisterBenchmark(name.c_str(), Run, c, copy)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
