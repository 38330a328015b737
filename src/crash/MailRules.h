// The parts of sending a report mail that are plain rules on text: list
// limits, and recipients written as "Name [address]".
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tarnwick {

// Result codes of the mail service that the mail component passes on.
inline constexpr unsigned long kMailSuccess = 0;
inline constexpr unsigned long kMailFailure = 1;  // also: no mail service installed
inline constexpr unsigned long kMailLoginFailure = 3;
inline constexpr unsigned long kMailTooManyFiles = 9;
inline constexpr unsigned long kMailTooManyRecipients = 10;
inline constexpr unsigned long kMailAttachmentNotFound = 11;
inline constexpr unsigned long kMailUnknownRecipient = 14;
inline constexpr unsigned long kMailAmbiguousRecipient = 21;

// Lists this long would overflow the service's 32-bit arrays of records.
inline constexpr std::size_t kMailListLimit = 89478486;

// 10 when the recipient lists together, 9 when the attachments reach the
// limit, else 0.
unsigned long MailListLimitCode(std::size_t recipientLines, std::size_t attachmentLines) noexcept;

// A recipient line with "[" and "]" that the service resolved to a display
// name without them is sent as the line itself, less its first "]" and its
// first "[": the name and address the user wrote. Nothing otherwise.
std::optional<std::string> BracketedRecipient(const std::string& line, const std::string& resolvedName);

// The joined mail body: lines separated by CR LF.
std::string JoinLines(const std::string* lines, std::size_t count);

}  // namespace tarnwick
