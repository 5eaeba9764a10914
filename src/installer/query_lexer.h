// Tokens of the query language.
//
// Identifiers are letters, digits and '_' (not starting with a digit), or any
// text between back-ticks. Keywords are identifiers matched without regard
// to case. Strings are single-quoted with no escapes; integers are decimal,
// with a '-' right before the first digit for a negative one ("-12"; "- 12"
// is no token).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

struct Token {
  enum class Kind {
    kIdentifier,        // bare name or keyword
    kQuotedIdentifier,  // `name`: never a keyword
    kString,            // 'text'
    kInteger,  // text: optional '-', then digits (the value is checked by the parser)
    kSymbol,   // one of * , . ( ) = <> < > <= >= ?
    kEnd,
  };
  Kind kind = Kind::kEnd;
  std::string text;  // identifier/string text, symbol spelling, integer digits
  size_t position = 0;

  bool IsKeyword(const char* keyword) const;
  bool IsSymbol(const char* symbol) const { return kind == Kind::kSymbol && text == symbol; }
};

// Splits `query` into tokens ending with a kEnd token. Returns false for a
// character that starts no token or an unterminated quote.
bool Tokenize(const std::string& query, std::vector<Token>* tokens);

}  // namespace installer
