#include "expand/shell_references.hpp"

#include <optional>

namespace veltrano {

namespace {

enum class Place {
  kCommand,    // unquoted command text: the top level, `...`
  kDouble,     // "..."
  kSingle,     // '...'
  kComment,    // from a # that starts a word to the end of the line
  kDelimiter,  // the word after << (or <<-)
  kHereBody,   // the lines of a here-document
};

struct HereDocument {
  std::string delimiter;
  bool quoted = false;     // a quoted delimiter: the body is taken literally
  bool stripTabs = false;  // <<-
  bool unmatched = false;  // the delimiter holds a replacement: no line ends it here
};

// One level of the shell's reading of the command text.
struct Frame {
  Place place = Place::kCommand;
  bool backslash = false;             // a backslash waits for its character
  bool wordStart = true;              // kCommand: a # here would start a comment
  int less = 0;                       // kCommand: '<' in a row (two start a here-document)
  bool inBackquote = false;           // kCommand: the text between ` and the next unescaped `
  bool layerBackslash = false;        // inBackquote: a backslash the backquote scan holds
  bool layerInDouble = false;         // inBackquote: inside "..." or a here-document, where \" is "
  std::vector<HereDocument> pending;  // kCommand: bodies that start at the next line
  // kDelimiter: the word so far; kHereBody: the document and its line so far
  HereDocument here;
  std::string line;
  char wordQuote = 0;      // kDelimiter: the quote the word is inside
  bool lineDirty = false;  // kHereBody: the line can't be the delimiter
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

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

}  // namespace

struct ShellReferences::Tracker {
  std::vector<Frame> stack{Frame{}};

  Frame& top() { return stack.back(); }

  void Push(Place place) {
    Frame f;
    f.place = place;
    stack.push_back(std::move(f));
  }

  // The innermost command frame: where here-documents wait for their line.
  Frame& Command() {
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
      if (it->place == Place::kCommand) return *it;
    }
    return stack.front();
  }

  void Pop() {
    if (stack.size() > 1) stack.pop_back();
  }

  // Opens `...`. Only a backquote layer closes it (Deliver).
  void PushBackquote(bool inDouble) {
    Push(Place::kCommand);
    top().inBackquote = true;
    top().layerInDouble = inDouble;
  }

  // The shell finds the closing backquote of `...` before it parses what
  // lies between, whatever the quotes and comments in it: it removes the
  // backslash of \\, \` and \$ (and of \" in a double-quoted place) and of a
  // line continuation, and parses the rest as a command. So each `...` open
  // on the stack is a layer between the characters and the parse: a
  // character passes every layer, outermost first, before the innermost
  // frame parses it. `from` is the layer the character has passed.
  void Deliver(char c, std::size_t from) {
    std::size_t b = from + 1;
    while (b < stack.size() && !stack[b].inBackquote) ++b;
    if (b == stack.size()) return Parse(c);
    Frame& layer = stack[b];
    if (layer.layerBackslash) {
      layer.layerBackslash = false;
      if (c == '\n') return;
      bool escapes = c == '\\' || c == '`' || c == '$' || (c == '"' && layer.layerInDouble);
      if (!escapes) Deliver('\\', b);
      return Deliver(c, b);
    }
    if (c == '\\') {
      layer.layerBackslash = true;
      return;
    }
    if (c == '`') {
      stack.resize(b);
      top().wordStart = false;
      return;
    }
    Deliver(c, b);
  }

  void Step(char c) { Deliver(c, 0); }

  // One character as the innermost frame reads it.
  void Parse(char c) {
    Frame& f = top();
    switch (f.place) {
      case Place::kCommand:
        return StepCommand(f, c);
      case Place::kDouble:
        return StepDouble(f, c);
      case Place::kSingle:
        if (c == '\'') Pop();
        return;
      case Place::kComment:
        if (c == '\n') {
          Pop();
          Parse(c);  // the line end also ends the command line
        }
        return;
      case Place::kDelimiter:
        return StepDelimiter(f, c);
      case Place::kHereBody:
        return StepHereBody(f, c);
    }
  }

  void StepCommand(Frame& f, char c) {
    if (f.backslash) {
      f.backslash = false;
      if (c == '\n') return;  // a line continuation: both characters vanish
      f.wordStart = false;
      f.less = 0;
      return;
    }
    if (c == '\\') {
      f.backslash = true;  // the word starts only if the next one is no line end
      return;
    }
    if (c != '<') f.less = 0;
    if (c == '#' && f.wordStart) return Push(Place::kComment);
    if (c == '`') {
      f.wordStart = false;
      return PushBackquote(false);
    }
    if (c == '\n' && !f.pending.empty()) return StartBodies(f);
    if (c == '<' && ++f.less == 2) {
      f.less = 0;
      f.wordStart = true;
      return Push(Place::kDelimiter);
    }
    if (EndsWord(c)) {
      f.wordStart = true;
      return;
    }
    f.wordStart = false;
    if (c == '\'') return Push(Place::kSingle);
    if (c == '"') return Push(Place::kDouble);
  }

  void StepDouble(Frame& f, char c) {
    if (f.backslash) {
      f.backslash = false;
      return;  // an escaped character, or a line continuation
    }
    if (c == '\\') f.backslash = true;
    if (c == '"') return Pop();
    if (c == '`') PushBackquote(true);
  }

  // The delimiter word after <<: an optional -, blanks, then the word up to
  // an unquoted blank or operator. Any quoting in it makes the body literal.
  void StepDelimiter(Frame& f, char c) {
    if (f.backslash) {
      f.backslash = false;
      if (c != '\n') {
        f.here.quoted = true;
        f.line += c;
      }
      return;
    }
    if (f.wordQuote != 0) {
      if (c == f.wordQuote) {
        f.wordQuote = 0;
      } else {
        f.line += c;
      }
      return;
    }
    bool started = !f.line.empty() || f.here.quoted;
    if (!started && c == '-' && !f.here.stripTabs) {
      f.here.stripTabs = true;
      return;
    }
    if (!started && IsBlank(c)) return;
    if (c == '\\') {
      f.backslash = true;
      return;
    }
    if (c == '\'' || c == '"') {
      f.here.quoted = true;
      f.wordQuote = c;
      return;
    }
    if (!EndsWord(c)) {
      f.line += c;
      return;
    }
    HereDocument document = std::move(f.here);
    document.delimiter = std::move(f.line);
    Pop();
    Command().pending.push_back(std::move(document));
    Parse(c);
  }

  // At the end of the line that named them, the here-documents' bodies
  // follow one after the other.
  void StartBodies(Frame& f) {
    std::vector<HereDocument> documents = std::move(f.pending);
    f.pending.clear();
    f.wordStart = true;
    for (auto it = documents.rbegin(); it != documents.rend(); ++it) {
      Push(Place::kHereBody);
      top().here = std::move(*it);
    }
  }

  void StepHereBody(Frame& f, char c) {
    if (!f.here.quoted) {
      // The delimiter is matched against the line as written: dash ends
      // no body at a line with a line continuation or at "\EOF".
      if (f.backslash) {
        f.backslash = false;
        if (c == '\n') {
          f.lineDirty = true;
          return;
        }
        f.line += '\\';
        f.line += c;
        return;
      }
      if (c == '\\') {
        f.backslash = true;
        return;
      }
      if (c == '`') {
        f.lineDirty = true;  // it holds a command
        return PushBackquote(true);
      }
    }
    if (c != '\n') {
      f.line += c;
      return;
    }
    std::string_view line = f.line;
    if (f.here.stripTabs) line.remove_prefix(std::min(line.find_first_not_of('\t'), line.size()));
    bool ends = !f.lineDirty && !f.here.unmatched && line == f.here.delimiter;
    f.line.clear();
    f.lineDirty = false;
    if (ends) Pop();
  }

  // The reference to value n as the innermost frame must read it.
  std::string ReferenceInFrame(std::size_t n) {
    Frame& f = top();
    const std::string bare = "${VELTRANO_VALUE_" + std::to_string(n) + "}";
    const std::string word = "\"" + bare + "\"";
    std::string prefix;
    if (f.backslash) prefix = f.place == Place::kDouble ? "\\" : "\n";
    f.backslash = false;
    switch (f.place) {
      case Place::kCommand:
        f.wordStart = false;
        f.less = 0;
        return prefix + word;
      case Place::kDouble:
        return prefix + bare;
      case Place::kSingle:
        return "'" + word + "'";
      case Place::kComment:
        return word;
      case Place::kDelimiter:
        f.here.quoted = true;
        f.here.unmatched = true;
        return prefix + word;
      case Place::kHereBody:
        f.lineDirty = true;
        return prefix + bare;
    }
    return word;
  }

  // The reference to value n, written so that every backquote layer hands
  // it on unchanged to the frame inside: backslashes doubled, and a
  // backslash the layer holds made a line continuation first.
  std::string Reference(std::size_t n) {
    std::string text = ReferenceInFrame(n);
    for (std::size_t i = stack.size(); i-- > 1;) {
      if (!stack[i].inBackquote) continue;
      std::string layered = stack[i].layerBackslash ? "\n" : "";
      stack[i].layerBackslash = false;
      for (char c : text) {
        if (c == '\\' || c == '`') layered += '\\';
        layered += c;
      }
      text = std::move(layered);
    }
    return text;
  }
};

ShellReferences::ShellReferences() : tracker_(std::make_unique<Tracker>()) {}
ShellReferences::~ShellReferences() = default;

void ShellReferences::Literal(std::string_view text, std::string& out) {
  out += text;
  for (char c : text) tracker_->Step(c);
}

std::size_t ShellReferences::Replacement(std::string_view value, std::string& out) {
  const std::size_t n = environment_.size() + 1;
  environment_.emplace_back("VELTRANO_VALUE_" + std::to_string(n), std::string(value));
  out += tracker_->Reference(n);
  return value.size();
}

}  // namespace veltrano
