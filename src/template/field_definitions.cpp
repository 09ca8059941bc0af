#include "template/field_definitions.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "text/text.hpp"

namespace veltrano {

namespace {

// Finds the entries of a FORMDATA section. Each call makes a skip move (a run
// of '<', then up to and including the next '<') and a take move (a run of
// '>', then the entry up to the next '>').
class EntryScanner {
 public:
  explicit EntryScanner(std::string_view section) : text_(section) {}

  std::optional<std::string_view> Next() {
    while (pos_ < text_.size() && text_[pos_] == '<') ++pos_;
    std::size_t open = text_.find('<', pos_);
    pos_ = open == std::string_view::npos ? text_.size() : open + 1;

    while (pos_ < text_.size() && text_[pos_] == '>') ++pos_;
    if (pos_ == text_.size()) return std::nullopt;
    std::size_t close = text_.find('>', pos_);
    std::size_t end = close == std::string_view::npos ? text_.size() : close;
    std::string_view entry = text_.substr(pos_, end - pos_);
    pos_ = close == std::string_view::npos ? text_.size() : close + 1;
    return entry;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Splits an entry at spaces and LFs. A space is part of the token while the
// token holds exactly one double quote; a LF always ends it, so a quoted
// text can't span lines.
Result<std::vector<std::string>> Tokenize(std::string_view entry) {
  std::vector<std::string> tokens;
  std::string token;
  std::size_t quotes = 0;
  bool unclosed = false;
  auto finish = [&] {
    if (token.size() > 1) {
      unclosed = unclosed || quotes == 1;
      tokens.push_back(std::move(token));
    }
    token.clear();
    quotes = 0;
  };
  for (char c : entry) {
    if (c == '\n' || (c == ' ' && quotes != 1)) {
      finish();
      if (unclosed) break;
      continue;
    }
    if (c == '"') ++quotes;
    token += c;
  }
  if (!unclosed) finish();
  if (unclosed) return Fail(FailureKind::kMissingClosingQuote, std::string(entry));
  return tokens;
}

// The text from `start` up to the next double quote, or none without one.
std::optional<std::string> QuotedFrom(std::string_view token, std::size_t start) {
  std::size_t end = token.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(token.substr(start, end - start));
}

// The field being parsed, and whether it has been given a NAME (an empty
// name is a name).
struct Entry {
  FieldDefinition field;
  bool named = false;
};

// The name as failure pages show it; "(null)" before any NAME.
std::string NameOrNull(const Entry& e) {
  return e.named ? e.field.name : "(null)";
}

Status RefuseHtml(const Entry& e, std::string_view token) {
  if (token.find('<') == std::string_view::npos) return {};
  return Fail(FailureKind::kHtmlInErrorText, NameOrNull(e));
}

Status TakeRecipientWord(Entry& e, std::string_view token) {
  bool sendTo = EqualsNoCase(token, "sendto");
  bool respondTo = EqualsNoCase(token, "respondto");
  if ((sendTo && e.field.respondTo) || (respondTo && e.field.sendTo)) {
    return Fail(FailureKind::kSendToWithRespondTo);
  }
  e.field.sendTo = e.field.sendTo || sendTo;
  e.field.respondTo = e.field.respondTo || respondTo;
  return {};
}

Status TakeName(Entry& e, std::string_view token) {
  if (!FindNoCase(token, "NAME=")) return {};
  std::optional<std::size_t> at = FindNoCase(token, "NAME=\"");
  std::optional<std::string> name;
  if (at) name = QuotedFrom(token, *at + 6);
  if (!name) return Fail(FailureKind::kBadNameLine, std::string(token));
  e.field.name = std::move(*name);
  e.named = true;
  return {};
}

Status TakeRequiredErr(Entry& e, std::string_view token) {
  if (!FindNoCase(token, "REQUIREDERR=")) return {};
  std::size_t quote = token.find('"');
  if (quote == std::string_view::npos) {
    return Fail(FailureKind::kBadRequiredErrLine, std::string(token));
  }
  if (Status html = RefuseHtml(e, token); !html) return html;
  // A token that holds a first double quote holds a second one (Tokenize).
  e.field.requiredErr = QuotedFrom(token, quote + 1).value_or(std::string(token.substr(quote + 1)));
  return {};
}

void TakeType(Entry& e, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "TYPE=\"");
  if (!at) return;
  std::string_view value = token.substr(*at + 5);
  if (EqualsNoCase(value, "\"INT\"")) {
    e.field.type = FieldType::kInt;
  } else if (EqualsNoCase(value, "\"EMAIL\"")) {
    e.field.type = FieldType::kEmail;
  } else if (EqualsNoCase(value, "\"CC\"")) {
    e.field.type = FieldType::kCreditCard;
  } else {
    e.field.type = FieldType::kNone;
  }
}

// The text runs from the quote after the keyword to the token's end, less
// the last character: the closing quote of a well-formed token.
Status TakeTypeErr(Entry& e, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "TYPEERR=");
  if (!at) return {};
  std::size_t quote = token.find('"', *at + 8);
  if (quote == std::string_view::npos)
    return Fail(FailureKind::kBadTypeErrLine, std::string(token));
  if (Status html = RefuseHtml(e, token); !html) return html;
  std::string_view text = token.substr(quote + 1);
  if (!text.empty()) text.remove_suffix(1);
  e.field.typeErr = std::string(text);
  return {};
}

// A PGP token without a quote after PGP=" names no key and is ignored.
void TakePgpKey(Entry& e, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "PGP=\"");
  if (!at) return;
  if (std::optional<std::string> key = QuotedFrom(token, *at + 5))
    e.field.pgpKeyId = std::move(key);
}

// MAXLEN, MAXLENERR, ATTACH and ATTACHERR are known only at the start of a
// token, and such a token is nothing else. The older attributes are found
// anywhere in a token; had the new ones been too, an error text that
// mentions MAXLEN= or ATTACH= would set a bound or a file type, and an
// error text holding name= or TYPE=" would be taken for those attributes.
constexpr std::string_view kMaxLenKey = "MAXLEN=";
constexpr std::string_view kAttachKey = "ATTACH=";

bool StartsWithNoCase(std::string_view token, std::string_view key) {
  return token.size() >= key.size() && EqualsNoCase(token.substr(0, key.size()), key);
}

// The text between the quotes of KEY="text", or none unless the token is
// exactly that.
std::optional<std::string_view> QuotedValue(std::string_view token, std::string_view key) {
  std::string_view value = token.substr(key.size());
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
  return value.substr(1, value.size() - 2);
}

// MAXLEN="N": N a positive decimal number, the whole quoted text.
Status TakeMaxLen(Entry& e, std::string_view token) {
  if (std::optional<std::string_view> digits = QuotedValue(token, kMaxLenKey)) {
    std::optional<unsigned long long> n = ParseDecimal(*digits);
    if (n && *n > 0 && *n <= std::numeric_limits<std::size_t>::max()) {
      e.field.maxLength = static_cast<std::size_t>(*n);
      return {};
    }
  }
  return Fail(FailureKind::kBadMaxLenLine, std::string(token));
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// ATTACH="ext ...": one or more extensions of letters and digits, separated
// by spaces, without their dots.
Status TakeAttach(Entry& e, std::string_view token) {
  std::vector<std::string> extensions;
  std::optional<std::string_view> list = QuotedValue(token, kAttachKey);
  for (std::size_t at = 0; list && at < list->size();) {
    std::size_t end = std::min(list->find(' ', at), list->size());
    std::string extension(list->substr(at, end - at));
    at = end + 1;
    if (extension.empty()) continue;
    if (!std::all_of(extension.begin(), extension.end(), IsAsciiAlnum)) {
      return Fail(FailureKind::kBadAttachLine, std::string(token));
    }
    AsciiLowerInPlace(extension);
    extensions.push_back(std::move(extension));
  }
  if (extensions.empty()) return Fail(FailureKind::kBadAttachLine, std::string(token));
  e.field.attach = std::move(extensions);
  return {};
}

// MAXLENERR="text" and ATTACHERR="text", read as REQUIREDERR is: the text
// between the first double quote and the next.
Status TakeErrorText(Entry& e, std::string_view token, FailureKind bad,
                     std::optional<std::string>& text) {
  std::size_t quote = token.find('"');
  if (quote == std::string_view::npos) return Fail(bad, std::string(token));
  if (Status html = RefuseHtml(e, token); !html) return html;
  text = QuotedFrom(token, quote + 1).value_or(std::string(token.substr(quote + 1)));
  return {};
}

// The attributes known only at the start of a token; none when the token
// starts with none of them.
std::optional<Status> TakePrefixed(Entry& e, std::string_view token) {
  // Most tokens start with another letter: one look tells them.
  const char first = token.empty() ? '\0' : AsciiToUpper(token.front());
  if (first != 'M' && first != 'A') return std::nullopt;
  if (StartsWithNoCase(token, kMaxLenKey)) return TakeMaxLen(e, token);
  if (StartsWithNoCase(token, "MAXLENERR=")) {
    return TakeErrorText(e, token, FailureKind::kBadMaxLenErrLine, e.field.maxLengthErr);
  }
  if (StartsWithNoCase(token, kAttachKey)) return TakeAttach(e, token);
  if (StartsWithNoCase(token, "ATTACHERR=")) {
    return TakeErrorText(e, token, FailureKind::kBadAttachErrLine, e.field.attachErr);
  }
  return std::nullopt;
}

Status CheckEntry(const Entry& e, std::string_view entry) {
  if (e.field.required && !e.field.requiredErr) {
    return Fail(FailureKind::kRequiredWithoutText, NameOrNull(e));
  }
  if (e.field.type != FieldType::kNone && !e.field.typeErr) {
    return Fail(FailureKind::kTypeWithoutText, NameOrNull(e));
  }
  if (e.field.maxLength && !e.field.maxLengthErr) {
    return Fail(FailureKind::kMaxLenWithoutText, NameOrNull(e));
  }
  if (e.field.attach && !e.field.attachErr) {
    return Fail(FailureKind::kAttachWithoutText, NameOrNull(e));
  }
  // Fields are looked up by name; a nameless one could never get a value.
  if (!e.named) return Fail(FailureKind::kEntryWithoutName, std::string(entry));
  return {};
}

Result<FieldDefinition> ParseEntry(std::string_view entry) {
  Result<std::vector<std::string>> tokens = Tokenize(entry);
  if (!tokens) return tokens.failure();
  Entry e;
  for (const std::string& token : *tokens) {
    if (std::optional<Status> taken = TakePrefixed(e, token)) {
      if (!*taken) return taken->failure();
      continue;
    }
    Status status = TakeRecipientWord(e, token);
    if (status) status = TakeName(e, token);
    if (status && EqualsNoCase(token, "required")) e.field.required = true;
    if (status && EqualsNoCase(token, "honeypot")) e.field.honeypot = true;
    if (status) status = TakeRequiredErr(e, token);
    if (status) TakeType(e, token);
    if (status) status = TakeTypeErr(e, token);
    if (!status) return status.failure();
    TakePgpKey(e, token);
  }
  if (Status checked = CheckEntry(e, entry); !checked) return checked.failure();
  return std::move(e.field);
}

void AppendQuoted(std::string& out, std::string_view key, const std::optional<std::string>& text) {
  if (text) out += " " + std::string(key) + "=\"" + *text + "\"";
}

}  // namespace

Result<std::vector<FieldDefinition>> ParseFieldDefinitions(std::string_view section) {
  EntryScanner scanner(section);
  std::optional<std::string_view> entry = scanner.Next();
  if (!entry) return Fail(FailureKind::kNoFieldEntry);
  std::vector<FieldDefinition> fields;
  for (; entry; entry = scanner.Next()) {
    Result<FieldDefinition> field = ParseEntry(*entry);
    if (!field) return field.failure();
    fields.push_back(std::move(*field));
  }
  return fields;
}

std::vector<Result<FieldDefinition>> ParseFieldEntries(std::string_view section) {
  EntryScanner scanner(section);
  std::vector<Result<FieldDefinition>> entries;
  while (std::optional<std::string_view> entry = scanner.Next()) {
    Result<FieldDefinition> field = ParseEntry(*entry);
    // A failure that names nothing (sendto with respondto) names its entry,
    // so that the failures of several entries can be told apart.
    if (!field && field.failure().text.empty()) {
      field = Fail(field.failure().kind, std::string(*entry), field.failure().detail);
    }
    entries.push_back(std::move(field));
  }
  return entries;
}

std::string DumpFields(const std::vector<FieldDefinition>& fields) {
  std::string out;
  for (const FieldDefinition& field : fields) {
    out += "name=\"" + field.name + "\"";
    if (field.required) out += " required";
    AppendQuoted(out, "requiredErr", field.requiredErr);
    switch (field.type) {
      case FieldType::kInt:
        out += " type=INT";
        break;
      case FieldType::kEmail:
        out += " type=EMAIL";
        break;
      case FieldType::kCreditCard:
        out += " type=CC";
        break;
      case FieldType::kNone:
        break;
    }
    AppendQuoted(out, "typeErr", field.typeErr);
    if (field.maxLength) out += " maxLen=" + std::to_string(*field.maxLength);
    AppendQuoted(out, "maxLenErr", field.maxLengthErr);
    if (field.attach) {
      std::string list;
      for (const std::string& extension : *field.attach)
        list += (list.empty() ? "" : " ") + extension;
      AppendQuoted(out, "attach", list);
    }
    AppendQuoted(out, "attachErr", field.attachErr);
    if (field.sendTo) out += " sendto";
    if (field.respondTo) out += " respondto";
    if (field.honeypot) out += " honeypot";
    AppendQuoted(out, "pgp", field.pgpKeyId);
    out += "\n";
  }
  return out;
}

}  // namespace veltrano
