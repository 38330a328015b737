// A move-only owner of one open local file (a descriptor on POSIX, a HANDLE
// on Windows) with the few operations the transfers and the backup store
// need: create a fresh file, open one for reading, append, read in order or
// at an offset, what kind of file it is, flush to disk. 64-bit offsets
// everywhere, so files over 4 GiB work in the 32-bit Windows build too.
// Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick::cli {

// A failed file operation as the system reported it, captured right after
// the call (errno / GetLastError).
struct FileError {
  int code = 0;
  std::string text;          // the system's words ("No space left on device")
  bool diskFull = false;     // out of space or quota, or past a file-size limit
  bool interrupted = false;  // a stop request ended a wait (StopWaitingWhen)
  static FileError Last();
};

// What fstat / GetFileInformationByHandle tell about an open file.
struct FileFacts {
  bool regular = false;  // a regular file (not a pipe, FIFO, device, folder)
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // modification time in the system's finest unit
  // False for a file whose size says nothing about its content: procfs,
  // sysfs and the like report 0 or a page, whatever they hold.
  bool sizeStated = true;
};

// Whether path lives on a file system whose files make their content up
// when read (procfs, sysfs, ...): their size says nothing, and no file can
// be created beside them.
bool OnMadeUpFileSystem(const std::string& path);

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
  // Like CreateExclusive, readable and writable by the owner alone (a
  // download in progress is nobody else's business until it is published).
  static FileHandle CreatePrivate(const std::string& path);
  // An existing file, device or FIFO opened for writing as it is: never
  // created, never truncated.
  static FileHandle OpenForWriting(const std::string& path);
  // Copies of the process's standard output / input, so closing one leaves
  // the stream itself open.
  static FileHandle StandardOutput();
  static FileHandle StandardInput();

  // Takes ownership of a descriptor / HANDLE opened elsewhere (openat,
  // CreateFileW with special flags); -1 / INVALID_HANDLE_VALUE gives an
  // invalid handle.
  static FileHandle Adopt(std::intptr_t native) { return FileHandle(native); }
  std::intptr_t Native() const { return handle_; }

  bool Valid() const { return handle_ != kInvalid; }
  // Writes every byte or fails.
  bool WriteAll(const char* bytes, std::size_t length);
  // Writes what it can: the count written before the first failure, so a
  // caller knows exactly where the data stopped reaching the file.
  std::size_t WritePrefix(const char* bytes, std::size_t length);
  // Bytes read (fewer only at the end of the file), -1 on an error.
  long long ReadAt(std::uint64_t offset, char* out, std::size_t length) const;
  // The next bytes in order (pipes, FIFOs, consoles): what one read gave,
  // 0 at the end, -1 on an error.
  long long Read(char* out, std::size_t length);
  // A pipe, FIFO or terminal may wait without end for a writer or a reader.
  // With a stop check, Read and WritePrefix wait for it in short slices and
  // give up (FileError interrupted) once the check says so, so a stop request
  // is honoured at once whatever the other end does. A regular file never
  // keeps us waiting: it keeps its plain, whole writes.
  void StopWaitingWhen(bool (*stop)()) {
    const std::optional<FileFacts> facts = Facts();
    stop_ = facts && facts->regular ? nullptr : stop;
  }
  std::optional<std::uint64_t> Size() const;
  std::optional<FileFacts> Facts() const;
  // Flushes the file's data to the disk (fsync / FlushFileBuffers).
  bool Sync();
  // Closes now; false when the system reports a late write error.
  bool Close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  explicit FileHandle(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kInvalid;
  bool (*stop_)() = nullptr;
};

}  // namespace tarnwick::cli
