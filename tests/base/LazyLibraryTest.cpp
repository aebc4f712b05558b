// A library opened on first use: its functions are found by name, and a library or function
// that is not there raises ELibraryMissing naming what needs it, the library and its package.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

#include "base/LazyLibrary.h"
#include "support/TestSupport.h"

TEST(LazyLibrary, FindsTheFunctionsOfALibraryThatIsThere) {
  TLazyLibrary libc("libc.so.6", "libc6", "Testing");
  auto length = libc.Function<size_t (*)(const char*)>("strlen");
  EXPECT_EQ(length("lazy"), 4u);
  EXPECT_EQ(libc.Symbol("strlen"), reinterpret_cast<void*>(length));
}

TEST(LazyLibrary, WhatIsMissingIsNamedInTheMessage) {
  TTempDir empty;
  struct TCase {
    const char* Soname;
    const char* Function;
    const char* LibraryDir;  // PELMORA_LIBRARY_DIR, nullptr: unset
    std::string Expected;
  };
  const TCase cases[] = {
      {"libpelmora-none.so.9", "f", nullptr,
       "Testing needs the library libpelmora-none.so.9 (Debian package pelmora-pkg), which "
       "cannot be loaded: "},
      {"libc.so.6", "pelmora_no_such_function", nullptr,
       "Testing needs the function pelmora_no_such_function of the library libc.so.6 (Debian "
       "package pelmora-pkg), which this version of the library lacks"},
      {"libc.so.6", "strlen", empty.Path().c_str(),
       "Testing needs the library libc.so.6 (Debian package pelmora-pkg), which cannot be "
       "loaded: "},
  };
  for (const auto& c : cases) {
    if (c.LibraryDir) setenv("PELMORA_LIBRARY_DIR", c.LibraryDir, 1);
    TLazyLibrary lib(c.Soname, "pelmora-pkg", "Testing");
    for (int attempt = 0; attempt < 2; ++attempt) {  // a failure stays a failure
      try {
        lib.Symbol(c.Function);
        ADD_FAILURE() << c.Soname << " " << c.Function << ": no exception";
      } catch (const ELibraryMissing& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, c.Expected.size()), c.Expected);
      }
    }
    unsetenv("PELMORA_LIBRARY_DIR");
  }
}
