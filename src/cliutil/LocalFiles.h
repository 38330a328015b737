// The files a user names on the command line, and the rules that keep them
// safe. Everything that can fail is checked here, before the first datagram:
// a transfer that cannot be stored costs no traffic.
//
// Get, like cp: a regular file (or a new one) is written to a temporary file
// beside it, created exclusively and owner-only, given the old file's mode
// and owner (or what the umask allows for a new one), flushed to disk and
// renamed over it; a symlink is written through to its target; a FIFO, a
// device or "-" (standard output) is written in place; a folder receives the
// file under the remote name's last part. A file the user could not write
// (no owner write bit, the read-only attribute) is refused, even for root.
//
// Put: "-" is standard input; a pipe, FIFO or device is a stream, read to its
// end; a regular file is sent at the size it has when the transfer starts.
#pragma once

#include <optional>
#include <string>

#include "base/Exception.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::cli {

// A local file named by the user that cannot be used; the message names the
// file and gives the system's reason. Exit status 2.
class ELocalFileError : public Exception {
 public:
  explicit ELocalFileError(std::string message) : Exception("ELocalFileError", std::move(message)) {}
};

// Where a get's bytes go, settled before the transfer.
struct GetTarget {
  std::string path;     // the file written: symlinks followed, a folder joined with the remote name
  bool direct = false;  // written in place (FIFO, device, standard output): no temporary file
  bool standardOutput = false;
};

// LOCAL as typed ("-" for standard output) and the remote file name (its
// last part names the file when LOCAL is a folder). Raises ELocalFileError.
GetTarget ResolveGetTarget(const std::string& local, const std::string& remoteName);

// A put's source, opened before the transfer ("-" is standard input).
struct PutSource {
  FileHandle file;
  FileFacts facts;  // facts.regular false: a stream, read to its end
};
// Raises ELocalFileError.
PutSource OpenPutSource(const std::string& local);

// Reads the whole of a small file (a password file); raises ELocalFileError
// naming what (e.g. "password file x") with the system's reason.
std::string ReadSmallFile(const std::string& path, const std::string& what);

// The temporary file of a download: "TARGET.tarnwick-<8 hex digits>.part"
// beside its target, so the final rename stays on one file system; created
// exclusively and owner-only. Invalid file (and the reason in error) when
// no name could be created.
struct TemporaryFile {
  std::string path;
  FileHandle file;
};
TemporaryFile CreateTemporaryBeside(const std::string& target, FileError& error);

// Makes a finished temporary file the target: the target's mode, owner and
// extended attributes (ACLs among them) when it exists (or 0666 less the
// umask), the data flushed to disk, the file closed and renamed over the
// target, then the folder flushed. When the rename would not keep the
// target as it is -- its owner or group cannot be given to our file, it has
// other hard links, an attribute cannot be copied, or the rename is refused
// (a bind mount, another user's file in a sticky folder) -- the data is
// copied into the existing file in place and flushed, and the temporary
// file removed: the target keeps its owner, mode, links and attributes.
struct PublishFailure {
  FileError error;  // the system's reason
  // The target was written in place and may be damaged: the temporary file
  // holds the whole download and must be kept. Otherwise the target is
  // untouched and the temporary file is left to the caller to remove.
  bool keepTemporary = false;
};
std::optional<PublishFailure> PublishTemporary(FileHandle& file, const std::string& temporary,
                                               const std::string& target);

// Platform helpers; paths are UTF-8.
std::string TemporaryNameFor(const std::string& target);
bool ReplaceFileWith(const std::string& from, const std::string& to);
void RemoveFileQuietly(const std::string& path);
std::string AbsolutePath(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace tarnwick::cli
