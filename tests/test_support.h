// The unit tests' helpers, through the standard library to test nothing of ours.
#ifndef KELVORIN_TESTS_TEST_SUPPORT_H_
#define KELVORIN_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace testing_support {

// A new empty folder (its path ends in a separator), gone with the object.
struct TempDir {
  TempDir() { std::filesystem::create_directories(path_); }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  const std::string path_ = (std::filesystem::temp_directory_path() /
                             ("kelvorin-" + std::to_string(std::random_device{}())) / "")
                                .string();
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

}  // namespace testing_support

#endif  // KELVORIN_TESTS_TEST_SUPPORT_H_
