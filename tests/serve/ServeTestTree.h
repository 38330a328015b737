// A scratch folder for the confinement and upload tests: ROOT with a
// sibling folder outside it, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarnwick::serve {

class ScratchTree {
 public:
  ScratchTree() {
    std::string pattern = ::testing::TempDir() + "tarnwick-serve-XXXXXX";
    base_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    EXPECT_FALSE(base_.empty());
    std::filesystem::create_directories(Root());
    std::filesystem::create_directories(Outside());
  }
  ~ScratchTree() { std::filesystem::remove_all(base_); }
  std::string Root() const { return base_ + "/root"; }
  std::string Outside() const { return base_ + "/outside"; }
  void Write(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string base_;
};

}  // namespace tarnwick::serve
