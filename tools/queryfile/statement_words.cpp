#include "queryfile/statement_words.hpp"

#include <cctype>

namespace query_file {

std::vector<std::string> tokenize(std::string_view line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    std::string_view rest = line.substr(i);
    std::string symbol;
    for (const char* s : {"->", "==", "!=", ">=", "<=", "=", ">", "<"}) {
      if (rest.starts_with(s)) {
        symbol = s;
        break;
      }
    }
    if (!symbol.empty()) {
      tokens.push_back(symbol);
      i += symbol.size();
      continue;
    }
    std::size_t end = i;
    while (end < line.size()) {
      char d = line[end];
      if (d == ' ' || d == '\t' || d == '\r' || d == '=' || d == '>' || d == '<' || d == '!') break;
      if (d == '-' && end + 1 < line.size() && line[end + 1] == '>') break;
      ++end;
    }
    tokens.emplace_back(line.substr(i, end - i));
    i = end;
  }
  return tokens;
}

bool is_identifier(const std::string& word) {
  if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) return false;
  for (char c : word) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

}  // namespace query_file
