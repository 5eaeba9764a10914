#include "query_parser.h"

#include <charconv>

#include "query_lexer.h"

namespace installer {
namespace {

// Words with a meaning in the grammar; as names they need back-quotes.
const char* const kReserved[] = {"SELECT", "DISTINCT", "FROM", "WHERE", "ORDER", "BY",
                                 "AND",    "OR",       "IS",   "NOT",   "NULL"};

// Deeper nesting of parentheses than this is refused rather than risking
// the stack on a hostile query.
constexpr int kMaxNesting = 100;

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool ParseSelect(SelectStatement* out) {
    if (!ExpectKeyword("SELECT")) return false;
    if (Peek().IsKeyword("DISTINCT")) {
      out->distinct = true;
      Advance();
    }
    if (Peek().IsSymbol("*")) {
      out->all_columns = true;
      Advance();
    } else if (!ParseColumnList(&out->columns)) {
      return false;
    }
    if (!ExpectKeyword("FROM")) return false;
    do {
      std::string table;
      if (!ParseName(&table)) return false;
      out->tables.push_back(std::move(table));
    } while (AcceptSymbol(","));
    if (Peek().IsKeyword("WHERE")) {
      Advance();
      out->where.emplace();
      if (!ParseOr(0, &*out->where)) return false;
    }
    if (Peek().IsKeyword("ORDER")) {
      Advance();
      if (!ExpectKeyword("BY") || !ParseColumnList(&out->order_by)) return false;
    }
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

  bool AcceptSymbol(const char* symbol) {
    if (!Peek().IsSymbol(symbol)) return false;
    Advance();
    return true;
  }

  static bool IsReserved(const Token& token) {
    for (const char* word : kReserved) {
      if (token.IsKeyword(word)) return true;
    }
    return false;
  }

  // A name; `allow_keyword` where no keyword could stand anyway.
  bool ParseName(std::string* name, bool allow_keyword = false) {
    const Token& token = Peek();
    if (token.kind == Token::Kind::kQuotedIdentifier ||
        (token.kind == Token::Kind::kIdentifier && (allow_keyword || !IsReserved(token)))) {
      *name = token.text;
      Advance();
      return true;
    }
    return false;
  }

  bool ParseColumn(ColumnName* out) {
    std::string first;
    if (!ParseName(&first)) return false;
    if (AcceptSymbol(".")) {
      out->table = std::move(first);
      return ParseName(&out->column, true);
    }
    out->table.clear();
    out->column = std::move(first);
    return true;
  }

  bool ParseColumnList(std::vector<ColumnName>* out) {
    do {
      ColumnName column;
      if (!ParseColumn(&column)) return false;
      out->push_back(std::move(column));
    } while (AcceptSymbol(","));
    return true;
  }

  // condition := conjunct {OR conjunct}
  bool ParseOr(int depth, Condition* out) {
    if (!ParseAnd(depth, out)) return false;
    if (!Peek().IsKeyword("OR")) return true;
    Condition either;
    either.kind = Condition::Kind::kOr;
    either.operands.push_back(std::move(*out));
    while (Peek().IsKeyword("OR")) {
      Advance();
      either.operands.emplace_back();
      if (!ParseAnd(depth, &either.operands.back())) return false;
    }
    *out = std::move(either);
    return true;
  }

  // conjunct := primary {AND primary}
  bool ParseAnd(int depth, Condition* out) {
    if (!ParsePrimary(depth, out)) return false;
    if (!Peek().IsKeyword("AND")) return true;
    Condition both;
    both.kind = Condition::Kind::kAnd;
    both.operands.push_back(std::move(*out));
    while (Peek().IsKeyword("AND")) {
      Advance();
      both.operands.emplace_back();
      if (!ParsePrimary(depth, &both.operands.back())) return false;
    }
    *out = std::move(both);
    return true;
  }

  bool ParsePrimary(int depth, Condition* out) {
    if (AcceptSymbol("(")) {
      if (depth >= kMaxNesting) return false;
      return ParseOr(depth + 1, out) && AcceptSymbol(")");
    }
    if (!ParseColumn(&out->column)) return false;
    if (Peek().IsKeyword("IS")) {
      Advance();
      out->kind = Condition::Kind::kIsNull;
      if (Peek().IsKeyword("NOT")) {
        Advance();
        out->kind = Condition::Kind::kIsNotNull;
      }
      return ExpectKeyword("NULL");
    }
    out->kind = Condition::Kind::kCompare;
    if (!ParseOperator(&out->op)) return false;
    const Token& right = Peek();
    switch (right.kind) {
      case Token::Kind::kInteger: {
        out->right_kind = Condition::OperandKind::kInteger;
        const char* end = right.text.data() + right.text.size();
        auto parsed = std::from_chars(right.text.data(), end, out->integer);
        if (parsed.ec != std::errc() || parsed.ptr != end) return false;  // out of range
        Advance();
        return true;
      }
      case Token::Kind::kString:
        if (out->op != CompareOp::kEqual && out->op != CompareOp::kNotEqual) return false;
        out->right_kind = Condition::OperandKind::kString;
        out->text = right.text;
        Advance();
        return true;
      default:
        // Two columns can only be compared for equality.
        if (out->op != CompareOp::kEqual) return false;
        out->right_kind = Condition::OperandKind::kColumn;
        return ParseColumn(&out->right_column);
    }
  }

  bool ParseOperator(CompareOp* op) {
    static const struct {
      const char* symbol;
      CompareOp op;
    } kOperators[] = {{"=", CompareOp::kEqual},          {"<>", CompareOp::kNotEqual},
                      {"<", CompareOp::kLess},           {">", CompareOp::kGreater},
                      {"<=", CompareOp::kLessEqual},     {">=", CompareOp::kGreaterEqual}};
    for (const auto& candidate : kOperators) {
      if (Peek().IsSymbol(candidate.symbol)) {
        *op = candidate.op;
        Advance();
        return true;
      }
    }
    return false;
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
