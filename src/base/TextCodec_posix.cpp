// POSIX back end of the CP932 conversions, through iconv. UTF-16 is asked
// for in little-endian order and assembled by hand, so the host's byte order
// does not matter.
#include <iconv.h>

#include <cerrno>

#include "base/TextCodec.h"

namespace tarnwick::codec_detail {

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in; false on any invalid or incomplete input.
  bool Run(const char* in, std::size_t inLength, std::string& out) {
    out.clear();
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // start from the initial state
    char buffer[1024];
    char* src = const_cast<char*>(in);
    std::size_t left = inLength;
    while (left > 0) {
      char* dst = buffer;
      std::size_t room = sizeof buffer;
      std::size_t rc = ::iconv(cd_, &src, &left, &dst, &room);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
      // glibc reports irreversible conversions by count; treat them as
      // failures, since nothing is to be guessed.
      if (rc != static_cast<std::size_t>(-1) && rc > 0) return false;
    }
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    if (::iconv(cd_, nullptr, nullptr, &dst, &room) == static_cast<std::size_t>(-1)) return false;
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

bool Cp932ToUtf16Strict(std::string_view in, std::u16string& out) {
  // Opening a converter costs far more than a short conversion, and
  // decoding falls back to one call per character, so each thread keeps one.
  thread_local Converter conv("UTF-16LE", "CP932");
  std::string bytes;
  if (!conv.ok() || !conv.Run(in.data(), in.size(), bytes) || bytes.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return true;
}

bool Utf16ToCp932Strict(std::u16string_view in, std::string& out) {
  std::string bytes;
  bytes.reserve(in.size() * 2);
  for (char16_t u : in) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  thread_local Converter conv("CP932", "UTF-16LE");
  return conv.ok() && conv.Run(bytes.data(), bytes.size(), out);
}

}  // namespace tarnwick::codec_detail
