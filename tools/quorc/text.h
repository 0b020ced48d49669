// The lexical side of program text and the mapping between a parameter
// row's value and its text, shared by build and dump.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/control.h"

namespace quorc {

// A token of one line: a bare atom (any run of characters other than blanks,
// '"', '=' and a leading '#'), a quoted text or '='.
struct Tok {
  enum Kind { Atom, Str, Eq } kind = Atom;
  std::string text;  // unescaped for Str
  int col = 0;       // 1-based column of its first character
};

// Splits one line into tokens; a '#' that begins a token starts a comment.
// On a lexical error returns false with *err_col and *err set.
bool lex_line(const std::string& line, std::vector<Tok>* out, int* err_col, std::string* err);

// The text as a bare atom when it reads back as the same atom, else quoted.
std::string word_or_quoted(const std::string& s);
std::string quoted(const std::string& s);

// Numbers as written in the text: floats read back bit-exact.
std::string float_text(float f);
bool parse_float(const std::string& s, float* out);
bool parse_uint(const std::string& s, u32* out);  // decimal or 0x hex

// The labels of a parameter list: one entry per row, with its choices.
struct RowLabel {
  std::string label;
  std::vector<std::string> choices;
};
struct Labels {
  std::vector<RowLabel> fixed, group;
  // Builds from a descriptor string (null: no labels) for a list of shape sh.
  static Labels of(const char* desc, const Ilparam& sh);
  const std::vector<RowLabel>& section(u16 group) const { return group ? this->group : fixed; }
  // The key that names a row in the text: its label when that is unique and
  // not empty, otherwise "@ROW".
  std::string key(u16 group, u16 row) const;
  // The row a key names; nullopt with *why when it names none or several.
  std::optional<u16> find(u16 group, const std::string& key, std::string* why) const;
};

// A row's value as text, by its type code (choices name type 5 values).
std::string value_text(const Iparam& p, const RowLabel* label);
// Reads a value token for a row of type code `type` into *p (texts point
// into tok). False with *why when the token cannot be such a value.
bool value_from(const Tok& tok, u16 type, const RowLabel* label, Iparam* p, std::string* why);

}  // namespace quorc
