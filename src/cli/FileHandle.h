// A move-only owner of one open local file (a descriptor on POSIX, a HANDLE
// on Windows) with the few operations the streaming transfers need: create a
// fresh file, open one for reading, append, read at an offset, size. 64-bit
// offsets everywhere, so files over 4 GiB work in the 32-bit Windows build
// too. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick::cli {

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // A new file that must not exist yet (so a name is never shared with
  // another run); invalid when it exists or cannot be created.
  static FileHandle CreateExclusive(const std::string& path);
  static FileHandle OpenForReading(const std::string& path);

  bool Valid() const { return handle_ != kInvalid; }
  // Writes every byte or fails.
  bool WriteAll(const char* bytes, std::size_t length);
  // Bytes read (fewer only at the end of the file), -1 on an error.
  long long ReadAt(std::uint64_t offset, char* out, std::size_t length) const;
  std::optional<std::uint64_t> Size() const;
  // Closes now; false when the system reports a late write error.
  bool Close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  explicit FileHandle(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kInvalid;
};

}  // namespace tarnwick::cli
