#pragma once
// A fresh directory for one test, removed with everything in it afterwards.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vantrel {

class TestDir {
 public:
  explicit TestDir(const std::string& base = "/tmp") {
    std::string templ = base + "/vantrel-test-XXXXXX";
    if (::mkdtemp(templ.data())) path_ = templ;
  }
  ~TestDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  bool Made() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vantrel
