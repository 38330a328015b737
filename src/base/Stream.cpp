#include "base/Stream.h"

namespace tarnwick {

namespace {
std::string WithPath(const char* before, const std::string& path, const char* after) {
  std::string text(before);
  text += path;
  text += after;
  return text;
}
}  // namespace

EFOpenError::EFOpenError(const std::string& path)
    : EStreamError("EFOpenError", WithPath("ファイル ", path, " は開けません")) {}

EFCreateError::EFCreateError(const std::string& path)
    : EStreamError("EFCreateError", WithPath("ファイル ", path, " を作成できません")) {}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError();
}

}  // namespace tarnwick
