#include "template/field_definitions.hpp"

#include <optional>

#include "response/response.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kTemplateError = "Template Error";

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
std::vector<std::string> Tokenize(std::string_view entry) {
  std::vector<std::string> tokens;
  std::string token;
  std::size_t quotes = 0;
  auto finish = [&] {
    if (token.size() > 1) {
      if (quotes == 1) {
        ReportFatal(kTemplateError,
                    "A closing quotation mark was missing from the below line.\n<br><pre>&lt;" +
                        std::string(entry) + "&gt;</pre>");
      }
      tokens.push_back(std::move(token));
    }
    token.clear();
    quotes = 0;
  };
  for (char c : entry) {
    if (c == '\n' || (c == ' ' && quotes != 1)) {
      finish();
      continue;
    }
    if (c == '"') ++quotes;
    token += c;
  }
  finish();
  return tokens;
}

std::string NameOrNull(const FormField& field) {
  return field.name.value_or("(null)");
}

[[noreturn]] void ReportLineError(std::string_view what, std::string_view token) {
  ReportFatal(kTemplateError, "Error identifying " + std::string(what) +
                                  ".  Please check your template file\n<br><pre>" +
                                  std::string(token) + "</pre>");
}

void RefuseHtml(const FormField& field, std::string_view token) {
  if (token.find('<') == std::string_view::npos) return;
  ReportFatal("Error in template file",
              "Error on " + NameOrNull(field) +
                  ".  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to customize "
                  "your errors.");
}

// The text from `start` up to the next double quote, or none without one.
std::optional<std::string> QuotedFrom(std::string_view token, std::size_t start) {
  std::size_t end = token.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(token.substr(start, end - start));
}

void TakeRecipientWord(FormField& field, std::string_view token) {
  bool sendTo = EqualsNoCase(token, "sendto");
  bool respondTo = EqualsNoCase(token, "respondto");
  if ((sendTo && field.respondTo) || (respondTo && field.sendTo)) {
    ReportFatal("Bad command in template file",
                "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; tag");
  }
  field.sendTo = field.sendTo || sendTo;
  field.respondTo = field.respondTo || respondTo;
}

void TakeName(FormField& field, std::string_view token) {
  if (!FindNoCase(token, "NAME=")) return;
  std::optional<std::size_t> at = FindNoCase(token, "NAME=\"");
  std::optional<std::string> name;
  if (at) name = QuotedFrom(token, *at + 6);
  if (!name) ReportLineError("the name line", token);
  field.name = std::move(name);
}

void TakeRequiredErr(FormField& field, std::string_view token) {
  if (!FindNoCase(token, "REQUIREDERR=")) return;
  std::size_t quote = token.find('"');
  if (quote == std::string_view::npos) ReportLineError("requiredErr line", token);
  RefuseHtml(field, token);
  // A token that holds a first double quote holds a second one (Tokenize).
  field.requiredErr = QuotedFrom(token, quote + 1).value_or(std::string(token.substr(quote + 1)));
}

void TakeType(FormField& field, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "TYPE=\"");
  if (!at) return;
  std::string_view value = token.substr(*at + 5);
  if (EqualsNoCase(value, "\"INT\"")) {
    field.type = FieldType::kInt;
  } else if (EqualsNoCase(value, "\"EMAIL\"")) {
    field.type = FieldType::kEmail;
  } else if (EqualsNoCase(value, "\"CC\"")) {
    field.type = FieldType::kCreditCard;
  } else {
    field.type = FieldType::kNone;
  }
}

// The text runs from the quote after the keyword to the token's end, less
// the last character: the closing quote of a well-formed token.
void TakeTypeErr(FormField& field, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "TYPEERR=");
  if (!at) return;
  std::size_t quote = token.find('"', *at + 8);
  if (quote == std::string_view::npos) ReportLineError("typeErr line", token);
  RefuseHtml(field, token);
  std::string_view text = token.substr(quote + 1);
  if (!text.empty()) text.remove_suffix(1);
  field.typeErr = std::string(text);
}

// A PGP token without a quote after PGP=" names no key and is ignored.
void TakePgpKey(FormField& field, std::string_view token) {
  std::optional<std::size_t> at = FindNoCase(token, "PGP=\"");
  if (!at) return;
  if (std::optional<std::string> key = QuotedFrom(token, *at + 5)) field.pgpKeyId = std::move(key);
}

void CheckEntry(const FormField& field, std::string_view entry) {
  if (field.required && !field.requiredErr) {
    ReportFatal("Veltrano template file error",
                "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. "
                "Please check template file under &lt;NAME=\"" +
                    NameOrNull(field) + "\"");
  }
  if (field.type != FieldType::kNone && !field.typeErr) {
    ReportFatal("Veltrano template file error",
                "You specified the TYPE attribute, but no associated TYPEERR attribute. Please "
                "check template file under &lt;NAME=\"" +
                    NameOrNull(field) + "\"");
  }
  // Fields are looked up by name; a nameless one could never get a value.
  if (!field.name) {
    ReportFatal(kTemplateError,
                "A field entry has no NAME attribute.  Please check your template file\n"
                "<br><pre>&lt;" +
                    std::string(entry) + "&gt;</pre>");
  }
}

FormField ParseEntry(std::string_view entry) {
  FormField field;
  for (const std::string& token : Tokenize(entry)) {
    TakeRecipientWord(field, token);
    TakeName(field, token);
    if (EqualsNoCase(token, "required")) field.required = true;
    TakeRequiredErr(field, token);
    TakeType(field, token);
    TakeTypeErr(field, token);
    TakePgpKey(field, token);
  }
  CheckEntry(field, entry);
  return field;
}

void AppendQuoted(std::string& out, std::string_view key, const std::optional<std::string>& text) {
  if (text) out += " " + std::string(key) + "=\"" + *text + "\"";
}

}  // namespace

void ParseFieldDefinitions(RequestContext& ctx, std::string_view section) {
  EntryScanner scanner(section);
  std::optional<std::string_view> entry = scanner.Next();
  if (!entry) {
    ReportFatal(kTemplateError,
                "The FORMDATA section holds no field entry.  Please check your template file");
  }
  ctx.fields.clear();
  for (; entry; entry = scanner.Next()) ctx.fields.push_back(ParseEntry(*entry));
}

std::string DumpFields(const std::vector<FormField>& fields) {
  std::string out;
  for (const FormField& field : fields) {
    out += field.name ? "name=\"" + *field.name + "\"" : "name=(none)";
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
    if (field.sendTo) out += " sendto";
    if (field.respondTo) out += " respondto";
    AppendQuoted(out, "pgp", field.pgpKeyId);
    out += "\n";
  }
  return out;
}

}  // namespace veltrano
