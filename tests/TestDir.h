#pragma once
// A fresh directory for one test, removed with everything in it afterwards.
// Its path is UTF-8 text, as the program's own paths are.
#include "platform/Utf8Path.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace vantrel {

#ifdef _WIN32
// The system's folder for temporaries: "/tmp" would be a folder of the
// current drive on Windows.
inline std::string DefaultTestBase() { return Utf8FromPath(std::filesystem::temp_directory_path()); }
#else
inline std::string DefaultTestBase() { return "/tmp"; }
#endif

class TestDir {
 public:
  explicit TestDir(const std::string& base = DefaultTestBase()) {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      std::string name = base + "/vantrel-test-" + std::to_string(random()) + std::to_string(random());
      std::error_code ec;
      if (std::filesystem::create_directory(PathFromUtf8(name), ec)) path_ = name;
    }
#else
    std::string templ = base + "/vantrel-test-XXXXXX";
    if (::mkdtemp(templ.data())) path_ = templ;
#endif
  }
  ~TestDir() {
    std::error_code ec;
#ifdef _WIN32
    // Windows removes no read-only entry, and a test may leave one behind.
    for (auto it = std::filesystem::recursive_directory_iterator(PathFromUtf8(path_), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
#endif
    std::filesystem::permissions(PathFromUtf8(path_), std::filesystem::perms::all, ec);
    std::filesystem::remove_all(PathFromUtf8(path_), ec);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  bool Made() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vantrel
