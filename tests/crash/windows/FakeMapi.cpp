// A stand-in for the Simple MAPI library, loaded as MAPI32.DLL from the
// program's folder by the mail tests. It records every call in
// "fake-mapi.txt" beside itself and answers like a service that knows two
// recipients: "known", and any "Admin [...]" line, whose display name it
// gives as plain "Admin".
#include <windows.h>

// mapi.h needs the types of windows.h.
#include <mapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HMODULE self = nullptr;
MapiRecipDesc resolved{};
char knownName[] = "Known Person";
char knownAddress[] = "SMTP:known@example.invalid";
char adminName[] = "Admin";

void Record(const std::string& line) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(self, path, MAX_PATH);
  std::string file = path;
  file = file.substr(0, file.find_last_of('\\') + 1) + "fake-mapi.txt";
  if (FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string Text(const char* s) { return s != nullptr ? s : "(null)"; }

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}

__declspec(dllexport) ULONG WINAPI
    MAPILogon(ULONG_PTR, LPSTR name, LPSTR password, FLAGS flags, ULONG, LPLHANDLE session) {
  Record("logon name=" + Text(name) + " password=" + Text(password) + " flags=" + std::to_string(flags));
  *session = 77;
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  Record("logoff session=" + std::to_string(session));
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI
    MAPIResolveName(LHANDLE, ULONG_PTR, LPSTR name, FLAGS flags, ULONG, lpMapiRecipDesc* recip) {
  Record("resolve name=" + Text(name) + " flags=" + std::to_string(flags));
  if (name != nullptr && std::strcmp(name, "known") == 0) {
    resolved.lpszName = knownName;
    resolved.lpszAddress = knownAddress;
  } else if (name != nullptr && std::strncmp(name, "Admin [", 7) == 0) {
    resolved.lpszName = adminName;
    resolved.lpszAddress = nullptr;
  } else {
    return MAPI_E_UNKNOWN_RECIPIENT;
  }
  *recip = &resolved;
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI
    MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS flags, ULONG) {
  std::string line = "send session=" + std::to_string(session) + " flags=" + std::to_string(flags) +
                     " subject=" + Text(message->lpszSubject) + " body=" + Text(message->lpszNoteText) +
                     " recips=" + std::to_string(message->nRecipCount) +
                     " files=" + std::to_string(message->nFileCount);
  for (ULONG i = 0; i < message->nRecipCount; ++i)
    line += " to=" + Text(message->lpRecips[i].lpszName) + "|" + Text(message->lpRecips[i].lpszAddress);
  for (ULONG i = 0; i < message->nFileCount; ++i)
    line += " file=" + Text(message->lpFiles[i].lpszPathName) + "|" + Text(message->lpFiles[i].lpszFileName) +
            "|" + std::to_string(static_cast<long>(message->lpFiles[i].nPosition));
  Record(line);
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
  Record(std::string("free ") + (buffer == &resolved ? "resolved" : "other"));
  return SUCCESS_SUCCESS;
}

}  // extern "C"
