// ROOT and a folder beside it, outside ROOT, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarnwick::serve {

struct ScratchTree {
  ScratchTree() : base(::mkdtemp((::testing::TempDir() + "tarnwick-serve-XXXXXX").data())) {
    std::filesystem::create_directories(Root());
    std::filesystem::create_directories(Outside());
  }
  ~ScratchTree() { std::filesystem::remove_all(base); }
  std::string Root() const { return base + "/root"; }
  std::string Outside() const { return base + "/outside"; }
  static void Write(const std::string& path, const std::string& bytes) { std::ofstream(path) << bytes; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const std::string base;
};

}  // namespace tarnwick::serve
