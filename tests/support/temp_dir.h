// A fresh temporary directory, the working directory while the object lives.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>

class InTempDir {
 public:
  InTempDir() {
    char tmpl[] = "/tmp/quor_test_XXXXXX";
    if (mkdtemp(tmpl)) dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  ~InTempDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  InTempDir(const InTempDir&) = delete;
  InTempDir& operator=(const InTempDir&) = delete;
  const std::string& path() const { return dir_; }

 private:
  std::string dir_;
  std::filesystem::path old_;
};
