// Reader of the UI description files the resource builder turns into the
// UI resource file. A description is a tree of statements, one a line,
// nested by indentation:
//
//   # a comment runs to the end of the line
//   window Demo "Tessarette Demo"     <- keyword, then arguments
//     size 520 400
//     button Demo_Apply               <- a deeper line belongs to the one above
//       rect 24 60 124 84
//       label "Apply"
//
// Arguments are bare words (letters, digits and _ - . + / characters) or
// double-quoted strings (\" and \\ escape; no zero byte, which no record
// holds). What each keyword means and takes is the builder's business; this
// reader only checks the shape: tabs are refused, indentation must step
// back to a level seen before.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct KLT_UINode {
  std::string keyword;
  std::vector<std::string> args;
  std::vector<std::unique_ptr<KLT_UINode>> children;
  std::string file;
  int line = 0;

  // "file:line: " for messages.
  std::string Where() const;
  // The first child with this keyword, or null.
  const KLT_UINode* Find(const std::string& key) const;
};

class CKLT_UIDescription {
 public:
  // Parses text (named file in messages) and appends its top-level
  // statements. false with the first problem in Error().
  bool Parse(const std::string& text, const std::string& file);
  bool ParseFile(const std::string& path);

  const std::vector<std::unique_ptr<KLT_UINode>>& Statements() const { return m_top; }
  const std::string& Error() const { return m_error; }

 private:
  bool i_Tokens(const std::string& line, const std::string& where, std::vector<std::string>& out);

  std::vector<std::unique_ptr<KLT_UINode>> m_top;
  std::string m_error;
};

// Typed argument access with messages naming the statement.
class KLT_Args {
 public:
  explicit KLT_Args(const KLT_UINode& node) : m_node(node) {}
  // false (with a message) unless the statement has between min and max
  // arguments.
  bool Count(size_t min, size_t max, std::string& error) const;
  bool Int(size_t i, long lo, long hi, long& out, std::string& error) const;
  const std::string& Str(size_t i) const { return m_node.args[i]; }
  size_t Size() const { return m_node.args.size(); }

 private:
  const KLT_UINode& m_node;
};
