// libFuzzer target for the project-file reader: any bytes either parse or are refused with
// EJsonParse, never crash or hang; what parses is written and read back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "recstore/JsonText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TJson doc;
  size_t badByte = std::string::npos;  // read as a database file is: a stray byte is replaced
  try {
    doc = ParseProjectBytes(bytes, MaxDatabaseFileDepth, &badByte);
  } catch (const EJsonParse&) {
    return 0;
  }
  const std::string text = WriteProjectText(doc);
  for (char c : text)
    if (static_cast<unsigned char>(c) > 127) std::abort();  // the file form is pure ASCII
  TJson back;
  try {
    back = ParseProjectBytes(text, MaxDatabaseFileDepth);
  } catch (const EJsonParse&) {
    std::abort();  // what we write we must read
  }
  if (WriteProjectText(back) != text) std::abort();
  return 0;
}
