// Small stateless helpers shared by the socket layer and the TFTP engine:
// millisecond ticks, 16-bit big-endian packing, text splitting, numeric
// address recognition, line-end search and Base64. Byte strings are
// std::string (one byte per character); positions count from 1.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// Millisecond tick count of a monotonic clock, cut to 32 bits; it wraps
// after about 49.7 days like the system tick counter it stands for.
std::uint32_t CurrentTick();

// Milliseconds between two ticks. A later tick that is numerically smaller
// is taken as a wrap only when the earlier one sits in the top half of the
// range; otherwise the distance backwards is returned as a positive span.
std::uint32_t TickSpan(std::uint32_t earlier, std::uint32_t later);

std::string EncodeWord(std::uint16_t value);                               // high byte first
std::uint16_t DecodeWord(const std::string& bytes, std::size_t position);  // 0 when short

std::string TextBefore(const std::string& text, const std::string& delimiter);
std::string TextAfter(const std::string& text, const std::string& delimiter);
std::string TakeField(std::string& text, const std::string& delimiter);

bool IsIPv4Literal(const std::string& text);
bool IsIPv6Literal(const std::string& text);
std::string IPv4ToBytes(const std::string& dotted);

// Earliest line end of any kind (CR LF, LF CR, CR, LF); 0 and an empty
// lineEnd when there is none.
std::size_t FindLineEnd(const std::string& text, std::string& lineEnd);

std::string Base64Encode(const std::string& bytes);

}  // namespace tarnwick
