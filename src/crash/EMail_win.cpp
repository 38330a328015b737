#include <windows.h>

#include "crash/EMail.h"

// mapi.h needs the types of windows.h.
#include <mapi.h>

#include <deque>

#include "crash/MailRules.h"

namespace tarnwick {

namespace {

// The five service functions, looked up once. A missing library or entry
// leaves its pointer null and the call answers 1.
struct MailService {
  LPMAPILOGON logon = nullptr;
  LPMAPILOGOFF logoff = nullptr;
  LPMAPIRESOLVENAME resolveName = nullptr;
  LPMAPISENDMAIL sendMail = nullptr;
  LPMAPIFREEBUFFER freeBuffer = nullptr;
};

bool MailServiceInstalled() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Messaging Subsystem", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return false;
  wchar_t value[8] = {};
  DWORD size = sizeof value - sizeof(wchar_t), type = 0;
  const bool ok =
      RegQueryValueExW(key, L"MAPI", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok && type == REG_SZ && std::wstring(value) == L"1";
}

template <class Fn>
Fn Entry(HMODULE library, const char* name) {
  return library != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)))
                            : nullptr;
}

const MailService& Service() {
  static const MailService service = [] {
    MailService s;
    // The library stays loaded for the rest of the process: a mail is rare,
    // and unloading it under a session the service may still hold is worse.
    HMODULE library = MailServiceInstalled() ? LoadLibraryW(L"MAPI32.DLL") : nullptr;
    s.logon = Entry<LPMAPILOGON>(library, "MAPILogon");
    s.logoff = Entry<LPMAPILOGOFF>(library, "MAPILogoff");
    s.resolveName = Entry<LPMAPIRESOLVENAME>(library, "MAPIResolveName");
    s.sendMail = Entry<LPMAPISENDMAIL>(library, "MAPISendMail");
    s.freeBuffer = Entry<LPMAPIFREEBUFFER>(library, "MAPIFreeBuffer");
    return s;
  }();
  return service;
}

char* OrNull(std::string& s) { return s.empty() ? nullptr : s.data(); }

std::string ReadDefaultProfile() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER,
                    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
                    0, KEY_READ, &key) != ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Messaging Subsystem\\Profiles", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  char value[256] = {};
  DWORD size = sizeof value - 1, type = 0;
  const bool ok = RegQueryValueExA(key, "DefaultProfile", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                   &size) == ERROR_SUCCESS &&
                  type == REG_SZ;
  RegCloseKey(key);
  return ok ? std::string(value) : std::string();
}

// The resolved recipients, kept alive until the message is sent.
struct Recipient {
  std::string name, address;
  std::vector<std::uint8_t> entry;
  ULONG recipClass = MAPI_TO;
};

}  // namespace

TEMail::~TEMail() { Logoff(); }

unsigned long TEMail::Logon() {
  if (session_ != 0) return kMailSuccess;
  const MailService& mapi = Service();
  if (mapi.logon == nullptr) return kMailFailure;
  if (UseDefaultProfile) ProfileName = ReadDefaultProfile();
  LHANDLE session = 0;
  ULONG result = mapi.logon(0, OrNull(ProfileName), OrNull(ProfilePassword), LogonFlags, 0, &session);
  if (result != SUCCESS_SUCCESS)
    result = mapi.logon(0, nullptr, nullptr, LogonFlags | MAPI_LOGON_UI, 0, &session);
  if (result == SUCCESS_SUCCESS) session_ = session;
  return result;
}

void TEMail::Logoff() {
  if (session_ == 0) return;
  if (Service().logoff != nullptr) Service().logoff(session_, 0, 0, 0);
  session_ = 0;
}

unsigned long TEMail::Send() {
  if (const unsigned long limit =
          MailListLimitCode(Recipients.size() + CarbonCopies.size() + BlindCopies.size(), Attachments.size()))
    return limit;
  const MailService& mapi = Service();
  if (mapi.sendMail == nullptr || mapi.resolveName == nullptr || mapi.freeBuffer == nullptr)
    return kMailFailure;
  const bool openedHere = session_ == 0;
  if (openedHere && Logon() != SUCCESS_SUCCESS) return kMailLoginFailure;

  std::string subject = Subject, messageType = MessageType;
  std::string text = BodyOverride != nullptr ? std::string(BodyOverride) : Body;
  unsigned long result = SUCCESS_SUCCESS;
  std::deque<Recipient> resolved;  // stable addresses for the records below
  std::vector<std::string>* lists[] = {&Recipients, &CarbonCopies, &BlindCopies};
  for (ULONG recipClass = MAPI_TO; recipClass <= MAPI_BCC; ++recipClass) {
    for (std::string& line : *lists[recipClass - 1]) {
      if (line.empty()) continue;
      lpMapiRecipDesc found = nullptr;
      ULONG r = mapi.resolveName(session_, 0, line.data(), 0, 0, &found);
      if (r == MAPI_E_AMBIGUOUS_RECIPIENT || r == MAPI_E_UNKNOWN_RECIPIENT)
        r = mapi.resolveName(session_, 0, line.data(), MAPI_DIALOG, 0, &found);
      if (r != SUCCESS_SUCCESS || found == nullptr) {
        result = r != SUCCESS_SUCCESS ? r : kMailFailure;
        continue;
      }
      Recipient recipient;
      recipient.recipClass = recipClass;
      const std::string display = found->lpszName != nullptr ? found->lpszName : "";
      if (const auto literal = BracketedRecipient(line, display)) {
        recipient.name = recipient.address = *literal;
      } else {
        line = display;
        recipient.name = display;
        recipient.address = found->lpszAddress != nullptr ? found->lpszAddress : display;
        if (found->lpEntryID != nullptr && found->ulEIDSize > 0) {
          const auto* id = static_cast<const std::uint8_t*>(found->lpEntryID);
          recipient.entry.assign(id, id + found->ulEIDSize);
        }
      }
      mapi.freeBuffer(found);
      resolved.push_back(std::move(recipient));
    }
  }

  std::vector<MapiRecipDesc> recips;
  for (Recipient& r : resolved) {
    MapiRecipDesc d{};
    d.ulRecipClass = r.recipClass;
    d.lpszName = r.name.data();
    d.lpszAddress = r.address.data();
    d.ulEIDSize = static_cast<ULONG>(r.entry.size());
    d.lpEntryID = r.entry.empty() ? nullptr : r.entry.data();
    recips.push_back(d);
  }
  FLAGS flags = recips.empty() || ShowDialog ? MAPI_DIALOG : 0;

  std::vector<std::string> paths, names;
  std::vector<MapiFileDesc> files;
  paths.reserve(Attachments.size());
  names.reserve(Attachments.size());
  for (const std::string& path : Attachments) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (openedHere) Logoff();
      return kMailAttachmentNotFound;
    }
    paths.push_back(path);
    const std::size_t slash = path.find_last_of("\\/");
    names.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    MapiFileDesc f{};
    f.nPosition = static_cast<ULONG>(-1);
    f.lpszPathName = paths[i].data();
    f.lpszFileName = names[i].data();
    files.push_back(f);
  }

  MapiMessage message{};
  message.lpszSubject = OrNull(subject);
  message.lpszNoteText = OrNull(text);
  message.lpszMessageType = OrNull(messageType);
  message.nRecipCount = static_cast<ULONG>(recips.size());
  message.lpRecips = recips.empty() ? nullptr : recips.data();
  message.nFileCount = static_cast<ULONG>(files.size());
  message.lpFiles = files.empty() ? nullptr : files.data();
  if (ReceiptRequested) message.flFlags |= MAPI_RECEIPT_REQUESTED;

  const ULONG sent = mapi.sendMail(session_, 0, &message, flags, 0);
  if (openedHere) Logoff();
  return sent != SUCCESS_SUCCESS ? sent : result;
}

}  // namespace tarnwick
