// Helpers shared by the unit tests: a private temporary folder, whole-file
// reads and writes through the standard library (so they test nothing of
// ours), and the text a test made the run log write.
#ifndef KELVORIN_TESTS_TEST_SUPPORT_H_
#define KELVORIN_TESTS_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

namespace fs = std::filesystem;

// A new empty folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path dir = fs::temp_directory_path() /
                   ("kelvorin-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(dir);
    path_ = dir.string() + static_cast<char>(fs::path::preferred_separator);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  // The folder's path with a trailing separator, and a name in it.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The file's bytes; "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The texts of a log file's entries without their time stamps, joined by
// "|"; a line without a stamp continues the entry before it.
inline std::string LogTexts(const std::string& path) {
  std::string log = ReadFile(path), texts;
  if (log == "<missing>") return "";
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = log.substr(at, end - at);
    bool stamped = line.size() >= 20 && line[2] == ':' && line[8] == ' ' && line[19] == ' ';
    texts += stamped ? (texts.empty() ? "" : "|") + line.substr(20) : "\r\n" + line;
  }
  return texts;
}

}  // namespace testing_support

#endif  // KELVORIN_TESTS_TEST_SUPPORT_H_
