#include "base/LazyLibrary.h"

#include <dlfcn.h>

#include <cstdlib>

void TLazyLibrary::Open() {
  std::string path = FSoname;
  if (const char* dir = std::getenv("PELMORA_LIBRARY_DIR"); dir && *dir)
    path = std::string(dir) + "/" + FSoname;
  // Lazy binding, as when the library is linked; local, so that nothing else binds to it.
  FHandle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!FHandle) {
    const char* why = dlerror();
    FError = std::string(FPurpose) + " needs the library " + FSoname + " (Debian package " +
             FPackage + "), which cannot be loaded: " + (why ? why : "unknown reason");
  }
}

void* TLazyLibrary::Symbol(const char* name) {
  std::call_once(FOnce, [this] { Open(); });
  if (!FHandle) throw ELibraryMissing(FError);
  dlerror();
  void* address = dlsym(FHandle, name);
  if (!address)
    throw ELibraryMissing(std::string(FPurpose) + " needs the function " + name +
                          " of the library " + FSoname + " (Debian package " + FPackage +
                          "), which this version of the library lacks");
  return address;
}
