#include "expand/placeholders.hpp"

#include <cstdio>
#include <optional>
#include <vector>

#include "expand/shell_quote.hpp"
#include "response/response.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kTooLongMessage =
    "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; and/or "
    "&lt;rmsgbody&gt; in your template file";

std::string TwoDigits(int a, int b, int c, char separator) {
  char text[64];  // room for any int, though each part has two digits
  std::snprintf(text, sizeof text, "%02d%c%02d%c%02d", a % 100, separator, b % 100, separator,
                c % 100);
  return text;
}

// The maximal runs of characters other than "$", in order.
std::vector<std::string_view> SplitPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t start = text.find_first_not_of('$', at);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find('$', start);
    if (end == std::string_view::npos) end = text.size();
    pieces.push_back(text.substr(start, end - start));
    at = end;
  }
  return pieces;
}

class Expander {
 public:
  Expander(const RequestContext& ctx, Escaping escaping) : ctx_(ctx), escaping_(escaping) {
    platform::LocalTime now = ctx.system.clock.Now();
    time_ = TwoDigits(now.hour, now.minute, now.second, ':');
    date_ = TwoDigits(now.month, now.day, now.year, '/');
  }

  void AppendLiteral(std::string_view piece) {
    Append(piece);
    if (escaping_ == Escaping::kShell) shell_.Literal(piece);
  }

  void AppendReplacement(std::string_view name) {
    std::optional<std::string> value = Lookup(name);
    if (!value) return;
    switch (escaping_) {
      case Escaping::kNone:
        Append(*value);
        break;
      case Escaping::kHtml:
        Append(HtmlEscape(*value));
        break;
      case Escaping::kShell:
        Append(shell_.Quote(*value));
        break;
    }
  }

  std::string Take() { return std::move(result_); }

 private:
  void Append(std::string_view piece) {
    if (result_.size() + piece.size() > kMaxExpandedLength) {
      ReportFatal("Mail send error", kTooLongMessage);
    }
    result_ += piece;
  }

  std::optional<std::string> Lookup(std::string_view name) const {
    bool triedOthers = false;
    for (const FormField& field : ctx_.fields) {
      if (field.name && EqualsNoCase(*field.name, name)) {
        if (field.value) return field.value;
        continue;  // a matching field without a value never ends the walk
      }
      // Fields that differ all give the same answer, so ask once.
      if (triedOthers) continue;
      triedOthers = true;
      if (std::optional<std::string> other = LookupOthers(name)) return other;
    }
    return std::nullopt;
  }

  std::optional<std::string> LookupOthers(std::string_view name) const {
    if (name == "systemtime") return time_;
    if (name == "systemdate") return date_;
    // No variable name holds "=" or a zero byte; such a name would otherwise
    // reach getenv cut short and find some other variable.
    if (name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) {
      return std::nullopt;
    }
    return ctx_.system.env.Get(AsciiUpper(name));
  }

  const RequestContext& ctx_;
  Escaping escaping_;
  ShellQuoteState shell_;
  std::string time_;
  std::string date_;
  std::string result_;
};

}  // namespace

std::string ExpandPlaceholders(const RequestContext& ctx, std::string_view text,
                               Escaping escaping) {
  Expander expander(ctx, escaping);
  // A text that begins with a placeholder gets a leading space, so that the
  // first piece is always literal text.
  std::string work;
  if (!text.empty() && text.front() == '$') work = " ";
  work += text;
  std::vector<std::string_view> pieces = SplitPieces(work);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i % 2 == 0) {
      expander.AppendLiteral(pieces[i]);
    } else {
      expander.AppendReplacement(pieces[i]);
    }
  }
  return expander.Take();
}

}  // namespace veltrano
