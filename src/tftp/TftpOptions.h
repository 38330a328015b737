// RFC 2347 option negotiation of the command line's engine: one table of the
// options it knows (name, range, how the server's answer is judged), the
// option block appended to a request, and the OACK reader. Pure functions
// over byte strings; the reader never looks past the end of the datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

inline constexpr std::uint16_t kOack = 6;

enum class OptionId : std::uint8_t { BlockSize, TransferSize, Timeout, WindowSize };
inline constexpr std::size_t kOptionCount = 4;

// How the server's value is judged against what we asked for.
enum class AnswerRule : std::uint8_t {
  AtMostAsked,  // blksize, windowsize: the server may lower, never raise
  SameAsAsked,  // timeout: take it or leave it
  AnyNumber,    // tsize: the server tells us the size
};

struct OptionRule {
  OptionId id;
  const char* name;  // lower case; matched without regard to case
  std::uint64_t min;
  std::uint64_t max;
  AnswerRule answer;
};

// The table, in the order options are written into a request.
const OptionRule* OptionTable();
const OptionRule& RuleOf(OptionId id);

// What a request asks for, option by option.
struct OptionAsk {
  bool asked[kOptionCount] = {};
  std::uint64_t value[kOptionCount] = {};
  bool Any() const;
};

// The options of a request: sourceSize is the file's size on a put (sent as
// tsize); on a get tsize asks with 0. Empty reason when the request is valid,
// otherwise why not ("blksize 4 is outside 8..65464").
OptionAsk AskedOptions(const TransferRequest& request, std::uint64_t sourceSize, std::string& reason);

// RRQ/WRQ with the option pairs after the mode.
void BuildOptionRequest(std::string& out, std::uint16_t opcode, std::string_view remoteName,
                        const OptionAsk& ask);

// A decimal number of at most 20 digits without sign or blanks; false for
// anything else (empty, overflow, other bytes).
bool ParseDecimal(std::string_view text, std::uint64_t& value);

// Walks the name/value pairs of an OACK (opcode 6, then zero-terminated
// name and value strings). Calls pair(name, value) for each; false when the
// datagram is not an OACK, a string is not terminated, or a name has no value.
template <typename PairHandler>
bool ForEachOackPair(std::string_view packet, PairHandler&& pair);

// Judges an OACK against what was asked. On success agreed holds the values
// (negotiated = true) and the result is true; otherwise reason says why the
// answer cannot be accepted (the transfer ends with ERROR 8).
bool AcceptOack(std::string_view packet, const OptionAsk& ask, TransferKind kind, AgreedOptions& agreed,
                std::string& reason);

// ERROR packet with code and text (zero-terminated).
void BuildErrorPacket(std::string& out, std::uint16_t code, std::string_view text);

template <typename PairHandler>
bool ForEachOackPair(std::string_view packet, PairHandler&& pair) {
  if (packet.size() < 2 || static_cast<unsigned char>(packet[0]) != 0 ||
      static_cast<unsigned char>(packet[1]) != kOack)
    return false;
  std::size_t at = 2;
  while (at < packet.size()) {
    const std::size_t nameEnd = packet.find('\0', at);
    if (nameEnd == std::string_view::npos) return false;
    const std::size_t valueEnd = packet.find('\0', nameEnd + 1);
    if (valueEnd == std::string_view::npos) return false;
    pair(packet.substr(at, nameEnd - at), packet.substr(nameEnd + 1, valueEnd - nameEnd - 1));
    at = valueEnd + 1;
  }
  return true;
}

}  // namespace tarnwick::tftp
