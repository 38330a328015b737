// Loading real and fake socket libraries by name under Windows: the
// reference count, the resolver flags with the add-on library fallback, and
// stand-ins for the names a library does not export.
#include <gtest/gtest.h>
#include <windows.h>

#include "NetTestPeers.h"
#include "net/SocketApi.h"
#include "net/SocketError.h"

namespace tarnwick {
namespace {

void* Export(const wchar_t* library, const char* name) {
  HMODULE module = GetModuleHandleW(library);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

// Suspends the environment's start-up load for one test.
class LibraryLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    StopSocketLayer();
    ASSERT_EQ(SocketLibraryRefs(), 0);
  }
  void TearDown() override {
    while (SocketLibraryRefs() > 0) UnloadSocketLibrary();
    StartSocketLayer();
  }
};

TEST_F(LibraryLoading, EmptyNameLoadsTheSystemLibrary) {
  EXPECT_FALSE(LoadSocketLibrary("no-such-socket-library.dll"));
  EXPECT_EQ(SocketLibraryRefs(), 0) << "a failed load is not counted";
  ASSERT_TRUE(LoadSocketLibrary(""));
  EXPECT_EQ(SocketLibraryRefs(), 1);
  void* socketExport = Export(L"ws2_32.dll", "socket");
  ASSERT_NE(socketExport, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(SocketApi().socket), socketExport);
  EXPECT_TRUE(ResolverInMainLibrary());
  EXPECT_FALSE(ResolverInAddOnLibrary());
}

TEST_F(LibraryLoading, LibraryWithoutGetnameinfoFallsBackToAddOn) {
  ASSERT_TRUE(LoadSocketLibrary("tarnwick_fake_ws2.dll"));
  EXPECT_FALSE(ResolverInMainLibrary()) << "getnameinfo is missing from the main library";

  // What the add-on library offers, found independently of the binding.
  HMODULE addOn = LoadLibraryW(L"wship6.dll");
  const bool addOnHasAll = addOn && GetProcAddress(addOn, "getaddrinfo") &&
                           GetProcAddress(addOn, "freeaddrinfo") && GetProcAddress(addOn, "getnameinfo");
  EXPECT_EQ(ResolverInAddOnLibrary(), addOnHasAll);
  if (addOn) {
    EXPECT_EQ(reinterpret_cast<void*>(SocketApi().getaddrinfo),
              reinterpret_cast<void*>(GetProcAddress(addOn, "getaddrinfo")))
        << "the three name entries come from the add-on library";
    FreeLibrary(addOn);
  }

  // The fake's own entry is bound: its socket fails with its own number.
  EXPECT_EQ(SocketApi().socket(kFamilyIPv4, 2, 17), kNoSocket);
  EXPECT_EQ(SocketLastError(), 10047);
  // A name the fake does not export fails cleanly.
  EXPECT_EQ(SocketApi().listen(kNoSocket, 1), -1);
  EXPECT_EQ(SocketLastError(), kMissingEntryError);
  EXPECT_EQ(SocketApi().htons(0x1234), 0x3412) << "byte order needs no library";

  // A second load while bound reloads nothing and keeps the flags.
  const bool addOnFlag = ResolverInAddOnLibrary();
  ASSERT_TRUE(LoadSocketLibrary(""));
  EXPECT_EQ(SocketLibraryRefs(), 2);
  EXPECT_FALSE(ResolverInMainLibrary());
  EXPECT_EQ(ResolverInAddOnLibrary(), addOnFlag);
  EXPECT_EQ(SocketApi().socket(kFamilyIPv4, 2, 17), kNoSocket);
  EXPECT_EQ(SocketLastError(), 10047) << "still the fake library";

  // Freed only after the matching number of unloads.
  UnloadSocketLibrary();
  EXPECT_NE(GetModuleHandleW(L"tarnwick_fake_ws2.dll"), nullptr);
  UnloadSocketLibrary();
  EXPECT_EQ(GetModuleHandleW(L"tarnwick_fake_ws2.dll"), nullptr);
  EXPECT_EQ(SocketApi().socket(kFamilyIPv4, 2, 17), kNoSocket);
  EXPECT_EQ(SocketLastError(), kMissingEntryError) << "no call reaches the freed library";
}

TEST_F(LibraryLoading, StartUpFailureRaisesTheLoadingError) {
  try {
    StartSocketLayer("no-such-socket-library.dll");
    ADD_FAILURE() << "expected ESocketError";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Error loading Socket interface (ws2_32.dll)!");
    EXPECT_EQ(e.ErrorNumber, 0);
    EXPECT_EQ(e.ErrorText, "Error loading Socket interface (ws2_32.dll)!");
  }
  EXPECT_EQ(SocketLibraryRefs(), 0);
}

}  // namespace
}  // namespace tarnwick
