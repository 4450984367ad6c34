// Helpers shared by the unit tests: a private temporary folder and whole-file
// reads and writes, through the standard library so they test nothing of ours.
#ifndef KELVORIN_TESTS_TEST_SUPPORT_H_
#define KELVORIN_TESTS_TEST_SUPPORT_H_

#include <string>

namespace testing_support {

// A new empty folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path with a trailing separator.
  const std::string& path() const { return path_; }
  // path() + name.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes; "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace testing_support

#endif  // KELVORIN_TESTS_TEST_SUPPORT_H_
