// `TEMail`: one mail through the system's Simple MAPI service, loaded at
// run time. Without a mail service every call answers 1 and does nothing.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

class TEMail {
 public:
  TEMail() = default;
  TEMail(const TEMail&) = delete;
  TEMail& operator=(const TEMail&) = delete;
  ~TEMail();  // logs off an open session, ignoring errors

  bool ReceiptRequested = false;
  bool ShowDialog = false;
  bool UseDefaultProfile = false;
  std::string ProfileName;
  std::string ProfilePassword;
  std::vector<std::string> Recipients;
  std::vector<std::string> CarbonCopies;
  std::vector<std::string> BlindCopies;
  std::vector<std::string> Attachments;  // full paths
  std::string Subject;
  std::string Body;
  std::string MessageType;
  const char* BodyOverride = nullptr;  // used instead of Body when set
  unsigned long LogonFlags = 0;

  unsigned long Logon();
  void Logoff();
  unsigned long Send();
  bool LoggedOn() const noexcept { return session_ != 0; }

 private:
  unsigned long session_ = 0;
};

}  // namespace tarnwick
