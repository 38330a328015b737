#include "ui/OptionalApi_win.h"

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/Handle.h"

namespace tarnwick {
namespace {

template <auto Member>
void StoreInto(OptionalApi& api, FARPROC address) {
  using Fn = std::remove_reference_t<decltype(api.*Member)>;
  // Function pointers share one representation; the entry's type is the
  // exported function's.
  api.*Member = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

struct Entry {
  const wchar_t* library;
  const char* name;
  void (*store)(OptionalApi&, FARPROC);
};

// The one list: library, exported name, and where the address goes.
constexpr Entry kEntries[] = {
    {L"dwmapi.dll", "DwmSetWindowAttribute", &StoreInto<&OptionalApi::DwmSetWindowAttribute>},
};

// Only from the system folder: a library of the same name beside the
// program or in the current folder must never be picked up instead.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
  return ::LoadLibraryW(path.c_str());
}

struct LoadedTable {
  OptionalApi api;
  // The libraries stay loaded for as long as the table hands out their
  // functions, that is until the program ends.
  std::vector<std::pair<std::wstring, UniqueModule>> libraries;

  HMODULE Library(const wchar_t* name) {
    for (auto& [loadedName, module] : libraries) {
      if (loadedName == name) return module.get();
    }
    libraries.emplace_back(name, UniqueModule(LoadSystemLibrary(name)));
    return libraries.back().second.get();
  }
};

LoadedTable& Loaded() {
  static LoadedTable table = [] {
    LoadedTable t;
    for (const Entry& e : kEntries) {
      if (HMODULE library = t.Library(e.library)) e.store(t.api, ::GetProcAddress(library, e.name));
    }
    return t;
  }();
  return table;
}

}  // namespace

OptionalApi& OptionalFunctions() { return Loaded().api; }

}  // namespace tarnwick
