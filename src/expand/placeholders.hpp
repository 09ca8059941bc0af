// $name$ placeholders in template texts and page files.
//
// Every "$" separates; a run of "$" separates once, and there is no escape
// for a literal "$" (one reaches the result only inside a replacement). The
// pieces between separators alternate: literal text, a name, literal text, ...
// A text that begins with "$" is given one leading space, so that its first
// piece is literal too.
//
// A name is replaced by, in this order: the value of a matching field (name
// compared without regard to ASCII case) that stands before every field with
// another name; else, tried once at the first field whose name differs, one
// of the clock's names, exactly in lower case ("systemtime" hh:mm:ss,
// "systemdate" mm/dd/yy, "systemdatetime" ISO 8601), or the environment
// variable of the upper-cased name; else the value of a later matching
// field. A name nothing answers to vanishes. The clock is read at most once
// per expansion, and only when a time or date is asked for. The fields are
// found by name through an index built at the first lookup (again should the
// number of fields change), so a lookup costs the same however many fields
// the template declares.
//
// Where the expanded text goes decides how replacements (untrusted field and
// environment values) are written: an Escaper does that, and sees the
// literal text too, so that it can tell where each replacement stands.
// Literal text is the administrator's and is never changed. A page may
// also answer names of its own with markup the program made (the failure
// page's $err$): those come before any field, names compared without regard
// to ASCII case, and the escaper writes them as markup. The result is
// bounded at kMaxExpandedLength characters, counted as the escaper says;
// beyond it the expansion fails (kExpansionTooLong).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/fields.hpp"
#include "model/result.hpp"
#include "platform/system.hpp"

namespace veltrano {

// The longest expanded text, in characters. Mail bodies and pages built from
// one form submission never need more, and the bound keeps a runaway
// template or a flood of long values from growing a response without end.
inline constexpr std::size_t kMaxExpandedLength = 15359;

// `time` as ISO 8601 with its zone offset (2026-12-07T18:02:11+01:00),
// which spreadsheets and scripts read without guessing the order of day and
// month: the text of $systemdatetime$, and the time at the start of every
// log line.
std::string IsoDateTime(const platform::LocalTime& time);

// What the names of placeholders stand for: the fields with their values (as
// they are when an expansion runs), the clock and the environment.
class PlaceholderValues {
 public:
  PlaceholderValues(const std::vector<FieldDefinition>& fields, const FieldValues& values,
                    const platform::Environment& env, const platform::Clock& clock)
      : fields_(fields), values_(values), env_(env), clock_(clock) {}

  // The replacement for `name`, or none. `now` is the clock reading of one
  // expansion, taken on first use.
  std::optional<std::string> Find(std::string_view name,
                                  std::optional<platform::LocalTime>& now) const;

 private:
  std::optional<std::string> FindOther(std::string_view name,
                                       std::optional<platform::LocalTime>& now) const;

  // Up to this many fields a lookup walks them all, which costs less than
  // building the index below for the few lookups of a request; past it the
  // index keeps a request's lookups from growing with fields times names.
  static constexpr std::size_t kFieldsWalked = 16;

  // The positions of the fields of `name` (ASCII case ignored), in
  // template order.
  std::span<const std::size_t> PositionsOf(std::string_view name) const;

  const std::vector<FieldDefinition>& fields_;
  // Every field's position, ordered by name (ASCII case ignored) and then by
  // position: built at the first lookup, one allocation for any number of
  // fields, and each lookup a binary search.
  mutable std::vector<std::size_t> byName_;
  mutable std::size_t indexed_ = 0;  // how many fields byName_ holds
  const FieldValues& values_;
  const platform::Environment& env_;
  const platform::Clock& clock_;
};

// Writes the pieces of one expansion into its result.
class Escaper {
 public:
  virtual ~Escaper() = default;
  // Appends literal template text as it stands.
  virtual void Literal(std::string_view text, std::string& out) { out += text; }
  // Appends a replacement, made safe for where it stands. Returns how many
  // characters it counts toward the length limit.
  virtual std::size_t Replacement(std::string_view value, std::string& out) = 0;
  // Appends markup of the program's own (a MarkupName's), which holds
  // visitor text escaped for the body of a page; returns its count. Only a
  // page takes it as markup: anywhere else it is a replacement like any
  // other, since it carries visitor text.
  virtual std::size_t Markup(std::string_view markup, std::string& out) {
    return Replacement(markup, out);
  }
};

// A name a page answers with the program's own markup.
struct MarkupName {
  std::string_view name;
  std::string_view markup;
};

// Replacements as they are: mails.
class PlainText final : public Escaper {
 public:
  std::size_t Replacement(std::string_view value, std::string& out) override {
    out += value;
    return value.size();
  }
};

Result<std::string> ExpandPlaceholders(std::string_view text, const PlaceholderValues& values,
                                       Escaper& escaper, std::span<const MarkupName> markup = {});

// The names of the placeholders in `text`, in order, as ExpandPlaceholders
// reads them; views into `text`.
std::vector<std::string_view> PlaceholderNames(std::string_view text);

// True when expansion leaves `text` as it stands, whatever the values: it
// holds no "$".
bool IsFixedText(std::string_view text);

// The names that stand for a reading of the clock ("systemtime", ...).
std::vector<std::string_view> ClockPlaceholderNames();

}  // namespace veltrano
