#include "app/TransferNames.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/WorkLogText.h"
#include "base/TextCodec.h"

namespace tarnwick {

std::string TrimName(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) < 33) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string BaseFileName(TransferDirection direction, std::string_view typed) {
  return direction == TransferDirection::Send ? TrimName(typed) : std::string(typed);
}

std::string RemoteName(TransferDirection direction, const NameFields& fields) {
  std::string name = BaseFileName(direction, fields.fileName);
  if (!fields.password.empty()) {
    name += fields.delimiter;
    name += fields.password;
  }
  return name;
}

std::string RemoteNameCp932(TransferDirection direction, const NameFields& fields) {
  std::optional<std::string> bytes = Utf8ToCp932(RemoteName(direction, fields));
  if (bytes) return *bytes;
  // Only now find the part to blame, so that a name which converts as a whole
  // is never refused for the way it splits into parts.
  const std::string base = BaseFileName(direction, fields.fileName);
  if (!Utf8ToCp932(base)) throw EConvertError("ファイル名 " + base + " には送れない文字が含まれています");
  throw EConvertError("ファイル名 " + base + " に続く区切り文字かパスワードに送れない文字が含まれています");
}

std::string ShownName(TransferDirection direction, const NameFields& fields) {
  std::string name = BaseFileName(direction, fields.fileName);
  if (!fields.maskPassword) {
    name += TrimName(fields.delimiter);
    name += TrimName(fields.password);
  }
  return name;
}

namespace {

std::size_t Utf8CharCount(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// A secret in the forms it may come back in: as typed (UTF-8) and as sent
// (CP932), where they differ.
void AddForms(std::vector<std::string>& forms, const std::string& secret) {
  if (secret.empty()) return;
  forms.push_back(secret);
  if (std::optional<std::string> cp932 = Utf8ToCp932(secret); cp932 && *cp932 != secret)
    forms.push_back(*cp932);
}

// The end of a text, its trailing line breaks and blanks left aside.
std::size_t TextEnd(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return end;
}

// A device that cuts its text short may end it in the middle of the echoed
// name: the longest beginning of a secret (3 characters and up, but not the
// whole of it, which is gone by now) that ends the text becomes "***".
void MaskCutTail(std::string& out, const std::vector<std::string>& secrets) {
  const std::size_t end = TextEnd(out);
  std::size_t best = 0;
  for (const std::string& secret : secrets) {
    std::size_t characters = 0;
    for (std::size_t cut = 1; cut < secret.size(); ++cut) {
      if ((static_cast<unsigned char>(secret[cut]) & 0xC0) == 0x80) continue;  // inside a character
      if (++characters < 3) continue;
      std::vector<std::string> forms;
      AddForms(forms, secret.substr(0, cut));
      for (const std::string& form : forms)
        if (form.size() > best && form.size() <= end &&
            out.compare(end - form.size(), form.size(), form) == 0)
          best = form.size();
    }
  }
  if (best > 0) out.replace(end - best, best, "***");
}

}  // namespace

std::string WithoutPasswordEcho(std::string_view deviceBytes, const NameFields& fields) {
  std::string out(deviceBytes);
  if (fields.password.empty()) return out;
  // The name went out with the password as typed; a device may echo it
  // trimmed ("Secret  " comes back as "Secret"), and so may its delimiter.
  std::vector<std::string> passwords = {fields.password};
  if (TrimName(fields.password) != fields.password) passwords.push_back(TrimName(fields.password));
  std::vector<std::string> delimiters = {fields.delimiter};
  if (TrimName(fields.delimiter) != fields.delimiter) delimiters.push_back(TrimName(fields.delimiter));
  std::vector<std::string> secrets;
  for (const std::string& password : passwords) {
    if (password.empty()) continue;
    for (const std::string& delimiter : delimiters) secrets.push_back(delimiter + password);
    // A bare password of one or two characters would turn every such letter
    // of an ordinary message into "***"; behind its delimiter it is still caught.
    if (Utf8CharCount(password) >= 3) secrets.push_back(password);
  }
  std::vector<std::string> forms;
  for (const std::string& secret : secrets) AddForms(forms, secret);
  // Longest first, so "delimiter + password" goes as one piece.
  std::stable_sort(forms.begin(), forms.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& form : forms) {
    for (std::size_t at = out.find(form); at != std::string::npos; at = out.find(form, at + 3))
      out.replace(at, form.size(), "***");
  }
  MaskCutTail(out, secrets);
  return out;
}

std::string OneLineText(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) c = ' ';
  }
  return line;
}

std::string ErrorCodeLine(std::int32_t code, std::string_view text) {
  std::string line = worklog::kErrorCodeLine;
  line += std::to_string(code);
  line += worklog::kErrorCodeSeparator;
  line += OneLineText(text);
  return line;
}

}  // namespace tarnwick
