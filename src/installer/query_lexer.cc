#include "query_lexer.h"

#include <cctype>
#include <strings.h>

namespace installer {
namespace {

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool Token::IsKeyword(const char* keyword) const {
  return kind == Kind::kIdentifier && strcasecmp(text.c_str(), keyword) == 0;
}

bool Tokenize(const std::string& query, std::vector<Token>* tokens) {
  tokens->clear();
  size_t i = 0;
  const size_t n = query.size();
  while (true) {
    while (i < n && std::isspace(static_cast<unsigned char>(query[i]))) ++i;
    Token token;
    token.position = i;
    if (i == n) {
      tokens->push_back(token);
      return true;
    }
    char c = query[i];
    if (IsNameStart(c)) {
      size_t start = i;
      while (i < n && IsNameChar(query[i])) ++i;
      token.kind = Token::Kind::kIdentifier;
      token.text = query.substr(start, i - start);
    } else if (IsDigit(c) || (c == '-' && i + 1 < n && IsDigit(query[i + 1]))) {
      size_t start = i;
      if (c == '-') ++i;
      while (i < n && std::isdigit(static_cast<unsigned char>(query[i]))) ++i;
      if (i < n && IsNameChar(query[i])) return false;  // "12abc"
      token.kind = Token::Kind::kInteger;
      token.text = query.substr(start, i - start);
    } else if (c == '`' || c == '\'') {
      size_t close = query.find(c, i + 1);
      if (close == std::string::npos) return false;
      token.kind = c == '`' ? Token::Kind::kQuotedIdentifier : Token::Kind::kString;
      token.text = query.substr(i + 1, close - i - 1);
      if (c == '`' && token.text.empty()) return false;
      i = close + 1;
    } else {
      static const char* const kSymbols[] = {"<>", "<=", ">=", "*", ",", ".", "(", ")",
                                             "=",  "<",  ">",  "?"};
      bool matched = false;
      for (const char* symbol : kSymbols) {
        size_t length = std::char_traits<char>::length(symbol);
        if (query.compare(i, length, symbol) == 0) {
          token.kind = Token::Kind::kSymbol;
          token.text = symbol;
          i += length;
          matched = true;
          break;
        }
      }
      if (!matched) return false;
    }
    tokens->push_back(std::move(token));
  }
}

}  // namespace installer
