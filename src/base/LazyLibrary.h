#pragma once
// A shared library the programs open when a command first needs it, not at start.
//
// Samba's client, the HTTP client, the media readers, the player and the MongoDB driver together
// map more than two hundred libraries; a program linked against them pays for that before it
// reads a byte. The rooms that use them (servers/, catalogue/, recstore/) define the library
// functions they call with the library's own signatures; each such definition finds the real
// function through a TLazyLibrary on its first call, so the code calling them stays as it is.
//
// A library that cannot be loaded raises ELibraryMissing, whose text names what needs it, the
// library and the Debian package that installs it. The programs report it like any failure of a
// command (pelmora-cli: exit code 1; the console: a message, and it goes on).
//
// Test hook: when the environment variable PELMORA_LIBRARY_DIR is set, the libraries are opened
// from that folder instead of the system's search path; a folder without them makes them
// unloadable, as on a machine where they are not installed.
#include <mutex>
#include <stdexcept>
#include <string>

class ELibraryMissing : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TLazyLibrary {
public:
  // Soname: the name the library is opened by ("libsmbclient.so.0"); Package: the Debian package
  // that installs it; Purpose: what the programs need it for, as a sentence subject ("Copying files
  // to a server's share").
  // Constant-initialised, so a loader is ready before any static constructor could call it.
  constexpr TLazyLibrary(const char* soname, const char* package, const char* purpose)
      : FSoname(soname), FPackage(package), FPurpose(purpose) {}
  TLazyLibrary(const TLazyLibrary&) = delete;
  TLazyLibrary& operator=(const TLazyLibrary&) = delete;

  // The address of the library's function Name, opening the library on the first call. Raises
  // ELibraryMissing when the library cannot be opened or lacks the function. The library stays
  // loaded until the process ends.
  void* Symbol(const char* name);
  template <typename F>
  F Function(const char* name) {
    return reinterpret_cast<F>(Symbol(name));
  }

  const char* Soname() const { return FSoname; }

private:
  void Open();

  const char* FSoname;
  const char* FPackage;
  const char* FPurpose;
  std::once_flag FOnce;
  void* FHandle = nullptr;
  std::string FError;
};

// Defines the library function Name (declared by the library's header) as one that forwards to the
// real one of Library, "Ret Name Params { return real Args; }". The real address is looked up once;
// a failed lookup raises and is retried on the next call.
#define PELMORA_LAZY_FUNCTION(Library, Ret, Name, Params, Args)            \
  extern "C" Ret Name Params {                                             \
    static const auto real = (Library).Function<decltype(&::Name)>(#Name); \
    return real Args;                                                      \
  }
