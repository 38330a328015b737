#include "cliutil/LocalFiles.h"

#include <random>

#include "cliutil/LocalPaths.h"

namespace tarnwick::cli {

namespace {

// "a/b\\c.txt" -> "c.txt": the name a file gets inside a folder.
std::string LastPart(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder + name;
  return folder + "/" + name;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw ELocalFileError("cannot write " + path + ": " + why);
}

}  // namespace

std::string TemporaryNameFor(const std::string& target) {
  std::random_device seed;
  std::mt19937 random(seed());
  static const char kHex[] = "0123456789abcdef";
  std::string name = target + ".tarnwick-";
  for (int i = 0; i < 8; ++i) name += kHex[random() % 16];
  return name + ".part";
}

GetTarget ResolveGetTarget(const std::string& local, const std::string& remoteName) {
  GetTarget target;
  if (local == "-") {
    target.direct = target.standardOutput = true;
    return target;
  }
  target.path = local;
  FileError error;
  PathKind kind = ExaminePath(local, error);
  if (kind == PathKind::Folder) {
    // As cp does: into the folder, under the remote file's own name.
    const std::string name = LastPart(remoteName);
    if (name.empty() || name == "." || name == "..")
      Refuse(local, "it is a folder and the remote name has no file name to use in it");
    target.path = Join(local, name);
    kind = ExaminePath(target.path, error);
    if (kind == PathKind::Folder) Refuse(target.path, "it is a folder");
  }
  if (kind == PathKind::Unknown) Refuse(target.path, error.text);
  if (kind == PathKind::Other) {  // FIFO, device: written in place, opened before the transfer
    target.direct = true;
    return target;
  }
  // A symlink is written through: the temporary file goes beside the file it
  // points to, and the rename replaces that file, not the link.
  target.path = FollowLinks(target.path);
  if (kind == PathKind::Regular) {
    if (std::optional<std::string> why = WriteRefusal(target.path)) Refuse(target.path, *why);
  }
  return target;
}

PutSource OpenPutSource(const std::string& local) {
  PutSource source;
  source.file = local == "-" ? FileHandle::StandardInput() : FileHandle::OpenForReading(local);
  if (!source.file.Valid()) {
    FileError error = FileError::Last();
    throw ELocalFileError("cannot read " + local + ": " + error.text);
  }
  std::optional<FileFacts> facts = source.file.Facts();
  if (!facts) {
    FileError error = FileError::Last();
    throw ELocalFileError("cannot read " + local + ": " + error.text);
  }
  source.facts = *facts;
  return source;
}

std::string ReadSmallFile(const std::string& path, const std::string& what) {
  FileHandle file = FileHandle::OpenForReading(path);
  auto fail = [&] {
    throw ELocalFileError("cannot read " + what + " " + path + ": " + FileError::Last().text);
  };
  if (!file.Valid()) fail();
  std::string text;
  char buffer[4096];
  for (;;) {
    long long n = file.Read(buffer, sizeof buffer);
    if (n < 0) fail();
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    // A password file is a line; a huge one is a mistake, not a password.
    if (text.size() > 64 * 1024)
      throw ELocalFileError("cannot read " + what + " " + path + ": larger than 64 KiB");
  }
  return text;
}

TemporaryFile CreateTemporaryBeside(const std::string& target, FileError& error) {
  TemporaryFile temporary;
  // A name taken by another run is tried again; any other failure (no such
  // folder, no permission, no space) would fail the same way every time.
  for (int attempt = 0; attempt < 8 && !temporary.file.Valid(); ++attempt) {
    std::string candidate = TemporaryNameFor(target);
    temporary.file = FileHandle::CreatePrivate(candidate);
    if (temporary.file.Valid()) {
      temporary.path = candidate;
      return temporary;
    }
    error = FileError::Last();
    if (!FileExists(candidate)) break;
  }
  return temporary;
}

}  // namespace tarnwick::cli
