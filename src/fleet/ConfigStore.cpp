#include "fleet/ConfigStore.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

namespace tarnwick::fleet {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& utf8) { return fs::u8path(utf8); }

std::string PathToUtf8(const fs::path& path) { return path.u8string(); }

std::string HistoryStamp(std::time_t utc) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &utc);
#else
  gmtime_r(&utc, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

namespace {

// Unique among concurrent runs into one folder: a random run tag and a
// counter. The leading dot keeps it apart from every device's file (device
// names cannot start with one).
std::string TempName(const std::string& name) {
  static const std::string tag = [] {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return std::string(text);
  }();
  static std::atomic<unsigned> counter{0};
  return ".tarnwick-" + tag + "-" + std::to_string(counter++) + "-" + name + ".tmp";
}

}  // namespace

TempConfig::TempConfig(fs::path path, std::ofstream stream)
    : path_(std::move(path)), stream_(std::move(stream)) {}

std::unique_ptr<TempConfig> TempConfig::Create(const fs::path& dir, const std::string& name,
                                               std::string& error) {
  fs::path path = dir / PathFromUtf8(TempName(name));
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  if (!stream) {
    error = "cannot create " + PathToUtf8(path) + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TempConfig>(new TempConfig(std::move(path), std::move(stream)));
}

TempConfig::~TempConfig() {
  if (!kept_) Discard();
}

bool TempConfig::Write(std::string_view bytes) {
  stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(stream_);
}

bool TempConfig::Close(std::string& error) {
  if (!stream_.is_open()) return true;
  stream_.flush();
  bool ok = static_cast<bool>(stream_);
  stream_.close();
  if (ok && !stream_.fail()) return true;
  error = "cannot write " + PathToUtf8(path_) + ": " + std::strerror(errno);
  return false;
}

void TempConfig::Discard() {
  if (stream_.is_open()) stream_.close();
  std::error_code ignored;
  fs::remove(path_, ignored);
  kept_ = true;  // nothing left to remove
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  auto sizeA = fs::file_size(a, ec);
  if (ec) return false;
  auto sizeB = fs::file_size(b, ec);
  if (ec || sizeA != sizeB) return false;
  std::ifstream ia(a, std::ios::binary), ib(b, std::ios::binary);
  if (!ia || !ib) return false;
  char bufferA[16384], bufferB[16384];
  for (;;) {
    ia.read(bufferA, sizeof bufferA);
    ib.read(bufferB, sizeof bufferB);
    std::streamsize na = ia.gcount(), nb = ib.gcount();
    if (na != nb || std::memcmp(bufferA, bufferB, static_cast<std::size_t>(na)) != 0) return false;
    if (na == 0 || !ia || !ib) return !ia.bad() && !ib.bad() && ia.eof() == ib.eof();
  }
}

SaveOutcome SaveConfig(TempConfig& temp, const fs::path& dir, const std::string& name,
                       const std::string& stamp) {
  SaveOutcome out;
  const fs::path target = dir / PathFromUtf8(name + ".cfg");
  std::error_code ec;
  if (!temp.Close(out.error)) {
    temp.Discard();
    return out;
  }
  const bool previous = fs::exists(target, ec);
  if (previous && SameContent(temp.Path(), target)) {
    temp.Discard();
    out.ok = true;
    return out;
  }
  if (previous) {
    // The old copy is written into the history before the new one replaces
    // it, so a crash in between loses neither.
    const fs::path folder = dir / "history" / PathFromUtf8(name);
    fs::create_directories(folder, ec);
    for (int n = 1; n < 1000 && out.historyFile.empty(); ++n) {
      std::string file = stamp + (n == 1 ? "" : "-" + std::to_string(n)) + ".cfg";
      if (fs::exists(folder / file, ec)) continue;
      if (!fs::copy_file(target, folder / file, fs::copy_options::none, ec)) {
        if (fs::exists(folder / file)) continue;  // taken by a concurrent run
        out.error = "cannot keep the previous " + name + ".cfg in the history: " + ec.message();
        temp.Discard();
        return out;
      }
      out.historyFile = "history/" + name + "/" + file;
    }
    if (out.historyFile.empty()) {
      out.error = "no free history name for " + name + " at " + stamp;
      temp.Discard();
      return out;
    }
  }
  fs::rename(temp.Path(), target, ec);
  if (ec) {
    out.error = "cannot rename the new copy to " + PathToUtf8(target) + ": " + ec.message();
    temp.Discard();
    return out;
  }
  temp.Kept();
  out.ok = true;
  out.changed = true;
  return out;
}

}  // namespace tarnwick::fleet
