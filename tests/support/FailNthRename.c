// Loaded with LD_PRELOAD into a program under test: the N-th rename (N from the environment
// variable PELMORA_FAIL_RENAME_AT, counted from 1) fails with EIO, as a disk that stops taking
// writes would make the last step of a file replacement fail. Every other rename goes through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

static int calls = 0;

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*) = NULL;
  if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  const char* at = getenv("PELMORA_FAIL_RENAME_AT");
  if (at && ++calls == atoi(at)) {
    errno = EIO;
    return -1;
  }
  return real(from, to);
}
