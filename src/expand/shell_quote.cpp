#include "expand/shell_quote.hpp"

namespace veltrano {

namespace {

bool IsInert(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case ' ':
    case '_':
    case '.':
    case ',':
    case ':':
    case '@':
    case '%':
    case '+':
    case '=':
    case '/':
    case '-':
      return true;
    default:
      return false;
  }
}

// Characters after which a new word (and so a comment) may begin.
bool EndsWord(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case ';':
    case '&':
    case '|':
    case '(':
    case ')':
    case '<':
    case '>':
      return true;
    default:
      return false;
  }
}

// 'value', each ' written as '\''.
std::string SingleQuoted(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else if (c != '\0') {
      out += c;
    }
  }
  out += '\'';
  return out;
}

}  // namespace

void ShellQuoteState::Literal(std::string_view text) {
  for (char c : text) Step(c);
}

void ShellQuoteState::Step(char c) {
  bool wasLess = lastLess_;
  lastLess_ = false;
  if (escaped_) {
    escaped_ = false;
    // A backslash-newline vanishes; anything else escaped is part of a word.
    if (c != '\n' && context_ == Context::kUnquoted) wordStart_ = false;
    return;
  }
  if (backquote_) {
    // The shell finds the closing ` before it parses what lies between.
    if (c == '\\') escaped_ = true;
    if (c == '`') backquote_ = false;
    return;
  }
  switch (context_) {
    case Context::kSingle:
      if (c == '\'') context_ = Context::kUnquoted;
      return;
    case Context::kComment:
      if (c == '\n') {
        context_ = Context::kUnquoted;
        wordStart_ = true;
      }
      return;
    case Context::kDouble:
      if (c == '\\') escaped_ = true;
      if (c == '"') context_ = Context::kUnquoted;
      if (c == '`') backquote_ = true;
      if (c == '$') uncertain_ = true;
      return;
    case Context::kUnquoted:
      if (c == '<' && wasLess) uncertain_ = true;  // a here-document follows
      lastLess_ = c == '<';
      StepUnquoted(c);
      return;
  }
}

void ShellQuoteState::StepUnquoted(char c) {
  if (c == '#' && wordStart_) {
    context_ = Context::kComment;
    return;
  }
  if (EndsWord(c)) {
    wordStart_ = true;
    return;
  }
  wordStart_ = false;
  switch (c) {
    case '\\':
      escaped_ = true;
      break;
    case '\'':
      context_ = Context::kSingle;
      break;
    case '"':
      context_ = Context::kDouble;
      break;
    case '`':
      backquote_ = true;
      break;
    case '$':
      uncertain_ = true;
      break;
    default:
      break;
  }
}

std::string ShellQuoteState::Quote(std::string_view replacement) {
  std::string out;
  if (uncertain_ || backquote_) {
    for (char c : replacement) {
      if (IsInert(c)) out += c;
    }
  } else {
    switch (context_) {
      case Context::kUnquoted:
        if (escaped_) out = "\n";
        out += SingleQuoted(replacement);
        break;
      case Context::kSingle:
        out = "'" + SingleQuoted(replacement) + "'";
        break;
      case Context::kDouble:
        if (escaped_) out = "\\";
        for (char c : replacement) {
          if (c == '$' || c == '`' || c == '"' || c == '\\') out += '\\';
          if (c != '\0') out += c;
        }
        break;
      case Context::kComment:
        for (char c : replacement) {
          if (c != '\n' && c != '\0') out += c;
        }
        break;
    }
  }
  // The escaped character, if any, was the first one of `out` (or the
  // newline put before it); an escaped backquote-context character is inert.
  if (!out.empty()) {
    escaped_ = false;
    lastLess_ = false;
    if (context_ == Context::kUnquoted && !backquote_) wordStart_ = false;
  }
  return out;
}

}  // namespace veltrano
