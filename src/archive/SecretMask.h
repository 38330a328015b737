// What keeps the secrets of a configuration out of everything we show: the
// diffs (--diff, the JSON and HTML reports) and the texts of the summary and
// the hooks. The stored configuration itself is never touched.
//
// A secret becomes "<secret:1a2b3c>": six hex digits of a digest keyed for
// this run only (SipHash-2-4, the key random and never written anywhere).
// The same value shows the same digits on both sides of a diff, so a
// reader sees which secret changed and that it changed; the key dies with
// the run, so the digits cannot be looked up or tried against guesses.
//
// Built in: the word after `snmp-server community`, and after the words
// password, secret, key, key-string, pre-shared-key, passphrase,
// encrypted-password, authentication-key, md5 and auth-password (a type
// number such as the 7 of `password 7 0822455D0A16` is kept and the word
// after it masked); and every crypt-style hash word ($1$..., $6$...,
// "$9$..."). Each --secret REGEX (and each rule of the ignore file's
// [secret] set) masks the last word each of its matches touches: a rule
// ends in the value ("tacacs-server key (7 )?\S+").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Pattern.h"

namespace tarnwick::archive {

class SecretMask {
 public:
  using Key = std::array<std::uint64_t, 2>;
  static Key RandomKey();

  explicit SecretMask(Key key, std::vector<Pattern> rules = {});

  // Every line of text with its secrets masked.
  std::string Text(std::string_view text) const;
  // A message (a device's error text): hashes and the rules given only.
  // The keyword rules read configuration syntax; in prose they would mask
  // the "in" of "wrong password in startup.cfg".
  std::string Message(std::string_view text) const;
  // A unified diff: each line masked after its first byte (' ', '-', '+').
  std::string Diff(std::string_view diff) const;
  // "<secret:1a2b3c>" for value.
  std::string Tag(std::string_view value) const;

 private:
  std::string Line(std::string_view line, bool keywords) const;
  Key key_;
  std::vector<Pattern> rules_;
};

}  // namespace tarnwick::archive
