// The stream family that the engine, the window and the command line share:
// an abstract byte stream, a growable memory stream and a file stream. Sizes
// and positions of a memory stream are 32-bit signed byte counts, so a memory
// stream never holds more than 2^31-1 bytes.
#pragma once

#include <cstdint>
#include <string>

#include "base/Exception.h"

namespace tarnwick {

// Base of the stream errors; the window's crash report shows the class name.
class EStreamError : public Exception {
 public:
  EStreamError(const char* className, std::string message) : Exception(className, std::move(message)) {}
  explicit EStreamError(std::string message) : Exception("EStreamError", std::move(message)) {}
};

// "ファイル <path> は開けません": an existing file could not be opened.
class EFOpenError : public EStreamError {
 public:
  explicit EFOpenError(const std::string& path);
};

// "ファイル <path> を作成できません": a file could not be created or replaced.
class EFCreateError : public EStreamError {
 public:
  explicit EFCreateError(const std::string& path);
};

class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("EReadError", "ストリームの読み込みエラー") {}
};

class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("EWriteError", "ストリームの書き込みエラー") {}
};

// A memory stream could not get the memory it needed to grow.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("EOutOfMemory", "メモリが不足しています") {}
};

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Both return the number of bytes moved; a short count means end of data
  // (Read) or a failure or limit (Write). Neither raises for that reason.
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Returns the new position; raises EStreamError for a position that the
  // stream cannot represent.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }

  // Whole-buffer forms: raise EReadError / EWriteError on a short transfer.
  void ReadBuffer(void* buffer, std::int32_t count);
  void WriteBuffer(const void* buffer, std::int32_t count);
};

}  // namespace tarnwick
