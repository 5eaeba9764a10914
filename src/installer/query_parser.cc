#include "query_parser.h"

#include "query_lexer.h"

namespace installer {
namespace {

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool ParseSelect(SelectStatement* out) {
    if (!ExpectKeyword("SELECT") || !ExpectSymbol("*") || !ExpectKeyword("FROM")) return false;
    std::string table;
    if (!ParseName(&table)) return false;
    out->tables.push_back(std::move(table));
    return Peek().kind == Token::Kind::kEnd;
  }

 private:
  const Token& Peek() const { return tokens_[position_]; }
  void Advance() {
    if (tokens_[position_].kind != Token::Kind::kEnd) ++position_;
  }

  bool ExpectKeyword(const char* keyword) {
    if (!Peek().IsKeyword(keyword)) return false;
    Advance();
    return true;
  }

  bool ExpectSymbol(const char* symbol) {
    if (!Peek().IsSymbol(symbol)) return false;
    Advance();
    return true;
  }

  bool ParseName(std::string* name) {
    const Token& token = Peek();
    if (token.kind != Token::Kind::kIdentifier && token.kind != Token::Kind::kQuotedIdentifier)
      return false;
    *name = token.text;
    Advance();
    return true;
  }

  std::vector<Token> tokens_;
  size_t position_ = 0;
};

}  // namespace

bool ParseQuery(const std::string& text, SelectStatement* out) {
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens)) return false;
  *out = SelectStatement();
  return Parser(std::move(tokens)).ParseSelect(out);
}

}  // namespace installer
