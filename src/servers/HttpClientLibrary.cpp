// The HTTP client library (libcurl), opened when a command is first sent to a server or a
// set-top box: the functions PostAndGet calls, forwarded to the library. Its own dependencies
// (TLS, HTTP/2, IDN, LDAP, Kerberos, ...) make it the largest start-up cost left otherwise.
#define CURL_DISABLE_TYPECHECK  // the type-checking macros would rename the definitions below
#include <curl/curl.h>

#include <cstdarg>

#include "base/LazyLibrary.h"

namespace {
TLazyLibrary Curl("libcurl.so.4", "libcurl4", "Sending commands to servers and set-top boxes");
}  // namespace

#define CURL_FUNCTION(Ret, Name, Params, Args) PELMORA_LAZY_FUNCTION(Curl, Ret, Name, Params, Args)

CURL_FUNCTION(CURLcode, curl_global_init, (long flags), (flags))
CURL_FUNCTION(CURL*, curl_easy_init, (void), ())
CURL_FUNCTION(CURLcode, curl_easy_perform, (CURL* c), (c))
CURL_FUNCTION(void, curl_easy_cleanup, (CURL* c), (c))
CURL_FUNCTION(const char*, curl_easy_strerror, (CURLcode code), (code))
CURL_FUNCTION(curl_slist*, curl_slist_append, (curl_slist* list, const char* text), (list, text))
CURL_FUNCTION(void, curl_slist_free_all, (curl_slist* list), (list))

// The two functions with a variable argument: one value whose type the option's number range
// tells, as libcurl itself reads it.
extern "C" CURLcode curl_easy_setopt(CURL* c, CURLoption option, ...) {
  static const auto real = Curl.Function<decltype(&::curl_easy_setopt)>("curl_easy_setopt");
  va_list ap;
  va_start(ap, option);
  CURLcode rc;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    rc = real(c, option, va_arg(ap, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    rc = real(c, option, va_arg(ap, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    rc = real(c, option, va_arg(ap, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    rc = real(c, option, va_arg(ap, curl_off_t));
  } else {
    rc = real(c, option, va_arg(ap, void*));
  }
  va_end(ap);
  return rc;
}

extern "C" CURLcode curl_easy_getinfo(CURL* c, CURLINFO info, ...) {
  static const auto real = Curl.Function<decltype(&::curl_easy_getinfo)>("curl_easy_getinfo");
  va_list ap;
  va_start(ap, info);
  void* result = va_arg(ap, void*);  // always the address of the answer
  va_end(ap);
  return real(c, info, result);
}
