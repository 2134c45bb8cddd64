// The goods receipt template of a payment type: its four parts, the variables
// it may hold, the ranges an editor highlights, and its file form.
//
// A template is cliché + "#Delim1#" + header + "#Delim2#" + repeating part +
// "#Delim3#" + footer, lines joined by CR LF. Texts are UTF-8 here; the
// template files are Windows-1251.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "selvo/Errors.h"

namespace selvo {

struct TCustomCheckParts {
  std::string klishe;
  std::string head;
  std::string repeat;
  std::string footer;
  bool operator==(const TCustomCheckParts&) const = default;
};

// Splits at the first "#Delim1#", the first "#Delim2#" after it and the first
// "#Delim3#" after that. Where a marker is missing, the rest of the text stays
// in the part being read and the later parts are empty (no "#Delim1#": all of
// it is the cliché), so no text of the template is ever dropped.
TCustomCheckParts SplitTemplate(const std::string& checkTemplate);
// The parts with the three markers between them, nothing added.
std::string JoinTemplate(const TCustomCheckParts& parts);

// A variable the dialog offers, with the description shown beside it.
struct TTemplateVariable {
  const char* name;  // "<#Tovar>"
  const char* description;
  const char* hint;  // empty for most
};
// Variables of the repeating part, then those of the header, totals and footer.
extern const std::vector<TTemplateVariable> kRepeatVariables;
extern const std::vector<TTemplateVariable> kHeadFooterVariables;

// Character ranges of an editor's text to highlight.
struct TTextRange {
  int start;
  int length;
  bool operator==(const TTextRange&) const = default;
};
struct TTemplateHighlights {
  std::vector<TTextRange> variables;  // "<#" to the next ">", inclusive
  std::vector<TTextRange> boldLines;  // a line from its leading "@" to its end
};
// Finds the ranges in a text (UTF-16, as an editor holds it, positions in
// code units) whose line breaks are single characters ('\n', U+2028 or
// U+2029). A "<#" with no ">" after
// it ends the search for variables; an "@" counts only at a line start.
TTemplateHighlights FindTemplateHighlights(std::u16string_view text);

// Raised when a template file cannot be read or written; the message names
// the file and the system's reason.
class ETemplateFileError : public Exception {
  using Exception::Exception;
};

// Reads a Windows-1251 template file as lines and joins them again with CR LF
// after every line (any of CR LF, LF, CR ends a line in the file).
std::string LoadTemplateFile(const std::string& fileName);
// Writes the text as Windows-1251 lines, each ending in CR LF, the last
// included; replaces an existing file.
void SaveTemplateFile(const std::string& fileName, const std::string& text);

}  // namespace selvo
