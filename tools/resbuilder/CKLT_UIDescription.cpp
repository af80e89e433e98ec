#include "CKLT_UIDescription.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string KLT_UINode::Where() const { return file + ":" + std::to_string(line) + ": "; }

const KLT_UINode* KLT_UINode::Find(const std::string& key) const {
  for (const auto& c : children)
    if (c->keyword == key) return c.get();
  return nullptr;
}

namespace {
bool WordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == '+' || c == '/';
}
}  // namespace

bool CKLT_UIDescription::i_Tokens(const std::string& line, const std::string& where, std::vector<std::string>& out) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string s;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        s += line[i];
      }
      if (i >= line.size()) {
        m_error = where + "unterminated string";
        return false;
      }
      if (s.find('\0') != std::string::npos) {
        m_error = where + "a string cannot hold a zero byte";
        return false;
      }
      ++i;
      out.push_back(s);
    } else if (WordChar(c)) {
      size_t j = i;
      while (j < line.size() && WordChar(line[j])) ++j;
      out.push_back(line.substr(i, j - i));
      i = j;
    } else {
      m_error = where + "unexpected character '" + std::string(1, c) + "'";
      return false;
    }
  }
  return true;
}

bool CKLT_UIDescription::Parse(const std::string& text, const std::string& file) {
  struct Open {
    size_t indent;
    KLT_UINode* node;
  };
  std::vector<Open> stack;  // the statements that deeper lines may belong to
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = file + ":" + std::to_string(number) + ": ";
    if (line.find('\t') != std::string::npos) {
      m_error = where + "tabs are not allowed; indent with spaces";
      return false;
    }
    std::vector<std::string> tokens;
    if (!i_Tokens(line, where, tokens)) return false;
    if (tokens.empty()) continue;
    const size_t indent = line.find_first_not_of(' ');
    while (!stack.empty() && stack.back().indent >= indent) {
      const size_t closed = stack.back().indent;
      stack.pop_back();
      if (closed > indent && (stack.empty() ? indent != 0 : stack.back().indent < indent)) {
        m_error = where + "indentation does not match any outer line";
        return false;
      }
    }
    if (stack.empty() && indent != 0) {
      m_error = where + "a top-level statement must start in the first column";
      return false;
    }
    auto node = std::make_unique<KLT_UINode>();
    node->keyword = tokens[0];
    node->args.assign(tokens.begin() + 1, tokens.end());
    node->file = file;
    node->line = number;
    KLT_UINode* raw = node.get();
    if (stack.empty())
      m_top.push_back(std::move(node));
    else
      stack.back().node->children.push_back(std::move(node));
    stack.push_back({indent, raw});
  }
  return true;
}

bool CKLT_UIDescription::ParseFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    m_error = path + ": cannot read the file";
    return false;
  }
  std::ostringstream s;
  s << f.rdbuf();
  return Parse(s.str(), path);
}

bool KLT_Args::Count(size_t min, size_t max, std::string& error) const {
  if (m_node.args.size() >= min && m_node.args.size() <= max) return true;
  error = m_node.Where() + "'" + m_node.keyword + "' takes " +
          (min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max)) + " argument(s)";
  return false;
}

bool KLT_Args::Int(size_t i, long lo, long hi, long& out, std::string& error) const {
  const std::string& s = m_node.args[i];
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != 0 || errno != 0 || v < lo || v > hi) {
    error = m_node.Where() + "'" + m_node.keyword + "': '" + s + "' is not a whole number from " +
            std::to_string(lo) + " to " + std::to_string(hi);
    return false;
  }
  out = v;
  return true;
}
