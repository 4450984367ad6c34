// The merge writer on any message, block marker, margins and small result
// table: it always completes, leaves no temporary file behind, and a message
// without a single "%" comes out byte for byte as it went in.
#include <dirent.h>

#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "merge_writer.h"
#include "result_table.h"
#include "settings.h"

namespace {

void FillTable(fuzz_support::Input& in) {
  kelvorin::ClearResultTable();
  kelvorin::ResetRows();
  const int rows = in.Byte() % 4;
  const int columns = in.Byte() % 5;
  for (int r = 0; r < rows; ++r) {
    kelvorin::BeginRow(columns);
    for (int c = 0; c < columns; ++c) kelvorin::AddCell(in.Piece('\x01').c_str());
    kelvorin::EndRow();
  }
}

void SetUp(fuzz_support::Input& in) {
  kelvorin::Settings& s = kelvorin::g_settings;
  s.SkipSpaces = in.Byte() & 1;
  s.FormatLeft = static_cast<std::int8_t>(in.Byte()) % 40;
  s.FormatRight = static_cast<std::int8_t>(in.Byte());
  std::string rowname = in.Piece('\x01').substr(0, 20);
  std::snprintf(s.BlockMarker, sizeof s.BlockMarker, "%%%s%%", rowname.c_str());
}

int EntriesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.' || std::strlen(e->d_name) > 2;
    closedir(d);
  }
  return n;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::Input in(data, size);
  SetUp(in);
  FillTable(in);
  const std::string message = in.Rest();  // NUL bytes and all
  const std::string dir = fuzz_support::ScratchDir();
  const std::string path = dir + "message.txt";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << message;
  if (kelvorin::WriteMergedMessage(path.c_str(), message.data(), message.size()) != 1) {
    fuzz_support::Fail("merge failed");
  }
  if (EntriesIn(dir) != 1) fuzz_support::Fail("a temporary file was left behind");
  if (message.find('%') == std::string::npos && ReadAll(path) != message) {
    fuzz_support::Fail("a message without placeholders changed");
  }
  return 0;
}
