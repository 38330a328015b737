// WSAPoll is not part of the layer's bound table (older systems lack it), so
// it is looked up here once in the same socket library. Without it, select
// over at most 64 handles does the job.
#include <windows.h>

#include <cstdint>
#include <map>
#include <vector>

#include "net/SocketPoll.h"

namespace tarnwick {

namespace {

// The WSAPOLLFD layout and values, independent of the header's version.
struct PollRecord {
  std::uintptr_t fd;
  short events;
  short revents;
};
constexpr short kReadNormal = 0x0100;
constexpr short kReadyMask = 0x0100 | 0x0200 | 0x0001 | 0x0002 | 0x0004;  // RDNORM RDBAND ERR HUP NVAL

using PollFunction = int(__attribute__((stdcall)) *)(PollRecord*, unsigned long, int);

PollFunction LookUpPoll() {
  HMODULE library = GetModuleHandleW(L"ws2_32.dll");
  if (!library) return nullptr;
  return reinterpret_cast<PollFunction>(reinterpret_cast<void*>(GetProcAddress(library, "WSAPoll")));
}

int SelectReadable(PollEntry* entries, std::size_t count, int timeoutMs) {
  if (count > 64) {
    detail::SetSystemSocketError(10024);  // WSAEMFILE: too many for one set
    return -1;
  }
  DescriptorSet set;
  DescriptorSetClear(set);
  for (std::size_t i = 0; i < count; ++i) DescriptorSetAdd(entries[i].handle, set);
  const WaitLimit limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int r = SocketApi().select(0, &set, nullptr, nullptr, &limit);
  if (r < 0) return -1;
  int ready = 0;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].ready = false;
    for (std::uint32_t j = 0; j < set.count; ++j)
      if (set.handles[j] == entries[i].handle) entries[i].ready = true;
    ready += entries[i].ready ? 1 : 0;
  }
  return ready;
}

}  // namespace

int PollReadable(PollEntry* entries, std::size_t count, int timeoutMs) {
  static const PollFunction poll = LookUpPoll();
  if (!poll) return SelectReadable(entries, count, timeoutMs);
  thread_local std::vector<PollRecord> records;
  records.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    records[i] = PollRecord{static_cast<std::uintptr_t>(entries[i].handle), kReadNormal, 0};
  if (count == 0) {
    Sleep(static_cast<DWORD>(timeoutMs));
    return 0;
  }
  const int r = poll(records.data(), static_cast<unsigned long>(count), timeoutMs);
  if (r < 0) return -1;
  int ready = 0;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].ready = (records[i].revents & kReadyMask) != 0;
    ready += entries[i].ready ? 1 : 0;
  }
  return ready;
}

// The kept set: the entries PollReadable takes, in the order they joined
// (a leaving one's place goes to the last), and where each handle stands.
struct SocketPollSet::Impl {
  std::vector<PollEntry> entries;
  std::vector<std::uint64_t> tags;
  std::map<SocketHandle, std::size_t> at;
};

SocketPollSet::SocketPollSet() : impl_(std::make_unique<Impl>()) {}
SocketPollSet::~SocketPollSet() = default;

bool SocketPollSet::Add(SocketHandle handle, std::uint64_t tag) {
  Impl& s = *impl_;
  if (!s.at.emplace(handle, s.entries.size()).second) {
    detail::SetSystemSocketError(10022);  // WSAEINVAL: already watched
    return false;
  }
  s.entries.push_back(PollEntry{handle, false});
  s.tags.push_back(tag);
  return true;
}

void SocketPollSet::Remove(SocketHandle handle) {
  Impl& s = *impl_;
  const auto found = s.at.find(handle);
  if (found == s.at.end()) return;
  const std::size_t i = found->second;
  s.at.erase(found);
  if (i + 1 != s.entries.size()) {
    s.entries[i] = s.entries.back();
    s.tags[i] = s.tags.back();
    s.at[s.entries[i].handle] = i;
  }
  s.entries.pop_back();
  s.tags.pop_back();
}

std::size_t SocketPollSet::Size() const { return impl_->entries.size(); }

int SocketPollSet::Wait(int timeoutMs, std::vector<std::uint64_t>& ready) {
  Impl& s = *impl_;
  ready.clear();
  const int n = PollReadable(s.entries.data(), s.entries.size(), timeoutMs);
  if (n <= 0) return n;
  for (std::size_t i = 0; i < s.entries.size(); ++i)
    if (s.entries[i].ready) ready.push_back(s.tags[i]);
  return static_cast<int>(ready.size());
}

}  // namespace tarnwick
