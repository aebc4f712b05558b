#pragma once
// The template page producer of the portals: reads an HTML template, finds its "<#name params>"
// tags and replaces each by the text its tag handler returns.
//
// Template text: read as UTF-8 (a byte order mark is skipped), split into lines and joined
// again with CR LF after every line, the last one included. A tag is "<#", optional blanks, a
// name of letters, digits and underscores, then the parameter text up to the first ">" that is
// not inside single or double quotes. Parameters are split at blanks (a double-quoted part may
// hold blanks), paired quotes are removed and the result is URL-decoded.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "recstore/Json.h"

// A malformed tag parameter or another failure of the template text itself.
class ETemplateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "+" is a blank, "%%" a percent sign, "%XX" the byte with hexadecimal code XX. Raises
// ETemplateError "Error decoding URL style (%XX) encoded string at position N" when the text
// ends within a "%" sequence and "Invalid URL encoded character (%zz) at position N" when the
// two characters are not hexadecimal digits; N is the position of the "%" counting from 1.
std::string HTTPDecode(const std::string& text);

// Removes the quote characters that pair up, pairing from the end of the text; a quote of the
// other kind inside a pair stays, an unpaired quote stays.
std::string StripParamQuotes(const std::string& text);

// Splits a tag's parameter text: trimmed, split at blanks, a double-quoted part kept whole;
// then quotes stripped and each parameter URL-decoded.
std::vector<std::string> SplitTagParams(const std::string& paramText);

// The template text as the producer sees it: BOM skipped, every line ended with CR LF.
std::string NormaliseTemplateText(const std::string& bytes);

class TSuperPageProducer;
// Returns the replacement of one tag.
using TTagHandler = std::function<std::string(TSuperPageProducer& pp, const std::string& tagName,
                                              const std::vector<std::string>& params)>;

class TSuperPageProducer {
public:
  TSuperPageProducer() = default;
  explicit TSuperPageProducer(TTagHandler handler) : OnHTMLTag(std::move(handler)) {}

  TJson CurrPage;         // the page descriptor being rendered (null between pages)
  std::string PageName;   // name of the top-level page being rendered ("ifpage" compares it)
  bool CollectFields = false;  // survey mode: the handler records tags instead of replacing
  TTagHandler OnHTMLTag;

  // Reads a template file; raises ETemplateError when it cannot be read.
  void LoadFromFile(const std::string& path);
  void SetHTMLDoc(const std::string& normalisedText) { FDoc = normalisedText; }
  const std::string& HTMLDoc() const { return FDoc; }
  // The document with every tag replaced.
  std::string Content();

private:
  std::string FDoc;
};
