#pragma once
// The text form of project files (and of the contracts and time-line files): one JSON
// document in 7-bit ASCII, CR LF line breaks, one space of indent per nesting level, doubles
// written the way earlier consoles wrote them ("25." for a whole number).
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/StrUtils.h"
#include "recstore/Json.h"

class EJsonParse : public std::runtime_error {
public:
  EJsonParse(const std::string& msg, size_t offset)
      : std::runtime_error(msg + " at offset " + std::to_string(offset)), Offset(offset) {}
  size_t Offset;
};

// Writes Doc in the project-file text form.
// SizeHint: the expected length (the last written one), to allocate once.
std::string WriteProjectText(const TJson& doc, size_t sizeHint = 0);

// The text of every record of a database document as last written, so that rewriting the
// whole file after a change of one record formats only that record. Whoever changes a record
// of the document must invalidate it (or its collection, or everything) before the next write.
class TProjectTextCache {
public:
  void Invalidate(const std::string& collection, const std::string& id);
  // The collection's live object was handed out: it may change at any time, so it is never
  // cached again until Reset.
  void Expose(const std::string& collection);
  void ExposeAll() { FAllExposed = true; FTexts.clear(); }
  // A new document: nothing cached, nothing exposed.
  void Reset();

private:
  friend void WriteProjectText(std::string& out, const TJson& doc, TProjectTextCache* cache);
// The same into Out (emptied first; its memory is reused).
void WriteProjectText(std::string& out, const TJson& doc, TProjectTextCache* cache);
  // collection -> record identifier -> its member text ("\"id\": {...}") at record depth
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> FTexts;
  std::unordered_map<std::string, bool> FExposed;
  bool FAllExposed = false;
};

// Writes a database document (an object of collections, each an object of records), taking
// the text of unchanged records from Cache and storing the text of the others in it. The result
// is byte-identical to WriteProjectText(doc).
std::string WriteProjectText(const TJson& doc, size_t sizeHint, TProjectTextCache* cache);
// The same into Out (emptied first; its memory is reused).
void WriteProjectText(std::string& out, const TJson& doc, TProjectTextCache* cache);
// Appends the project-file form of one double ("25.", "0.5", "1e+020").
void AppendGcvtDouble(std::string& out, double value);

// Turns the bytes of a file into UTF-8 text: UTF-16LE when they start with FF FE; otherwise
// UTF-8 when the bytes are valid UTF-8 (a UTF-8 byte-order mark is dropped); otherwise, when
// no sequence of two or more bytes is valid UTF-8, each byte is one Windows-1251 character.
// UTF-8 text with a byte that is not UTF-8 raises EJsonParse with the offset of the first such
// byte in Bytes; with BadOffset it is decoded instead, each such byte replaced by U+FFFD, and
// the offset goes to *BadOffset (left alone when there is none).
std::string DecodeFileBytes(std::string_view bytes, size_t* badOffset = nullptr);

// Parses JSON text (UTF-8). Standard JSON, except that a number may end in a decimal point
// ("25.", "2.e3"), as project files written by earlier consoles do. Nesting deeper than
// MaxDepth is refused. Raises EJsonParse.
constexpr int MaxJsonDepth = 1000;
// A database file holds its records two levels below its top (file, collection, record), so
// a record as deep as any document read alone still loads back from the file.
constexpr int MaxDatabaseFileDepth = MaxJsonDepth + 2;
TJson ParseJsonText(std::string_view text, int maxDepth = MaxJsonDepth);

// DecodeFileBytes followed by ParseJsonText.
TJson ParseProjectBytes(std::string_view bytes, int maxDepth = MaxJsonDepth,
                        size_t* badOffset = nullptr);

// Whether Value nests arrays and objects more than Depth levels (a scalar is 0 levels, an empty
// object 1).
bool JsonDeeperThan(const TJson& value, int depth);

// The Unicode code point of a Windows-1251 byte.
uint32_t Cp1251ToUnicode(unsigned char b);
