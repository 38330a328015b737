// Writing a whole file so that it is either complete or untouched. The
// bytes go to a new file beside the target, which takes the target's place
// (and, when the target exists, its attributes: permissions and owner, or
// the Windows attributes and security) only once every byte is written and
// flushed; a failure at any point (a full disk, a replace the system
// refuses) leaves the file that was there before as it was and removes the
// new one. Where the folder takes no new file but the target can be
// written, the target is rewritten in place, its disk space set aside
// before the first byte changes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/MemoryStream.h"

namespace tarnwick {

// Calls write with the new file, then puts it in the target's place.
// Raises EFCreateError naming the target when no file can be created beside
// it or the target cannot be replaced, EWriteError when writing or flushing
// fails; anything write raises passes through. The new file is gone after
// every failure.
void WriteFileReplacing(const std::string& target, const std::function<void(TStream& file)>& write);

// The whole content of a memory stream, as the target's new content.
void SaveStreamReplacing(const std::string& target, TMemoryStream& content);

// The new file's name: in the target's folder, short (so that a target
// near the path-length limit still has room beside it), distinct per tag.
std::string TemporarySibling(const std::string& target, std::uint32_t tag);

namespace file_replace_detail {
// Platform parts (FileReplace_win.cpp / FileReplace_posix.cpp).
bool IsPathSeparator(char c);
// Renames from onto to, replacing to when it exists, after giving from
// the attributes of the file it replaces; false when refused, and then to
// is as it was.
bool MoveOver(const std::string& from, const std::string& to);
void RemoveQuietly(const std::string& path) noexcept;
}  // namespace file_replace_detail

}  // namespace tarnwick
