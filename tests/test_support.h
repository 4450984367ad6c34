// Helpers of the unit tests, through the standard library so that they test
// nothing of ours: a private folder, whole files, the texts of the run log.
#ifndef KELVORIN_TESTS_TEST_SUPPORT_H_
#define KELVORIN_TESTS_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

// A new empty folder (its path ends in a separator), gone with the object.
struct TempDir {
  TempDir() {
    static std::atomic<int> n{0};
    auto name = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    auto dir =
        std::filesystem::temp_directory_path() / ("kelvorin-" + name + "-" + std::to_string(n++));
    std::filesystem::create_directories(dir);
    path_ = (dir / "").string();
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  std::string path_;
  std::error_code ignored_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The file's bytes; "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return in ? all.str() : "<missing>";
}

// The log's entries without their stamps, joined by "|"; a line without a
// stamp continues the entry before it.
inline std::string LogTexts(const std::string& path) {
  std::string log = ReadFile(path), texts;
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = log.substr(at, end - at);
    bool stamped = line.size() >= 20 && line[2] == ':' && line[8] == ' ' && line[19] == ' ';
    texts += stamped ? (texts.empty() ? "" : "|") + line.substr(20) : "\r\n" + line;
  }
  return texts;
}

}  // namespace testing_support

#endif  // KELVORIN_TESTS_TEST_SUPPORT_H_
