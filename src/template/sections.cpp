#include "template/sections.hpp"

#include <algorithm>
#include <vector>

#include "expand/placeholders.hpp"
#include "template/field_definitions.hpp"
#include "text/address.hpp"
#include "text/text.hpp"
#include "text/web_address.hpp"

namespace veltrano {

namespace {

Failure TagMissing(std::string_view tag) {
  // The page names the tag without its angle brackets.
  if (tag.starts_with('<')) tag.remove_prefix(1);
  if (tag.ends_with('>')) tag.remove_suffix(1);
  return Fail(FailureKind::kTagMissing, std::string(tag));
}

// Where the tags of a template may stand: every '<', found once. A template
// is searched for some twenty tags, each from the start; going from one
// '<' to the next keeps each search short.
class TagIndex {
 public:
  explicit TagIndex(std::string_view text) : text_(text) {
    for (std::size_t at = text.find('<'); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
      starts_.push_back(at);
    }
  }

  // The first occurrence of `tag` (which begins with '<') at or after
  // `from`, letters compared without regard to case.
  std::optional<std::size_t> Find(std::string_view tag, std::size_t from = 0) const {
    auto it = std::lower_bound(starts_.begin(), starts_.end(), from);
    // Most '<' start another tag: its next letter tells at once.
    const char second = tag.size() > 1 ? AsciiToUpper(tag[1]) : 0;
    for (; it != starts_.end(); ++it) {
      if (second != 0 && (*it + 1 >= text_.size() || AsciiToUpper(text_[*it + 1]) != second)) {
        continue;
      }
      if (EqualsNoCase(text_.substr(*it, tag.size()), tag)) return *it;
    }
    return std::nullopt;
  }

  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

Result<std::optional<std::string>> Extract(const TagIndex& index, std::string_view openTag,
                                           std::string_view closeTag, bool required) {
  std::optional<std::size_t> open = index.Find(openTag);
  if (!open) {
    if (required) return TagMissing(openTag);
    return std::optional<std::string>();
  }
  std::size_t start = *open + openTag.size();
  std::optional<std::size_t> close = index.Find(closeTag);
  // A closing tag quoted before the section (or inside its opening tag)
  // would give no text; the section's own closing tag follows the opening.
  if (close && *close < start) close = index.Find(closeTag, start);
  if (!close) {
    if (required) return TagMissing(closeTag);
    return std::optional<std::string>();
  }
  return std::optional<std::string>(index.text().substr(start, *close - start));
}

// Reads the sections one by one. Given a list of problems, it adds every
// failure to it and reads on; otherwise the first failure sticks and every
// later read yields nothing.
class SectionReader {
 public:
  explicit SectionReader(std::string_view text, std::vector<Failure>* problems = nullptr)
      : index_(text), problems_(problems) {}

  std::optional<std::string> Optional(std::string_view open, std::string_view close) {
    return Read(open, close, false);
  }
  std::string Required(std::string_view open, std::string_view close) {
    return Read(open, close, true).value_or("");
  }
  // A required section, none when it is missing.
  std::optional<std::string> RequiredOrNone(std::string_view open, std::string_view close) {
    return Read(open, close, true);
  }
  std::optional<std::string> Trimmed(std::string_view open, std::string_view close) {
    std::optional<std::string> text = Optional(open, close);
    Trim(text);
    return text;
  }
  void Report(Failure failure) {
    if (problems_ != nullptr) {
      problems_->push_back(std::move(failure));
    } else if (!failure_) {
      failure_ = std::move(failure);
    }
  }
  const std::optional<Failure>& failure() const { return failure_; }
  const TagIndex& index() const { return index_; }

 private:
  std::optional<std::string> Read(std::string_view open, std::string_view close, bool required) {
    if (failure_) return std::nullopt;
    Result<std::optional<std::string>> section = Extract(index_, open, close, required);
    if (!section) {
      Report(section.failure());
      return std::nullopt;
    }
    return std::move(*section);
  }

  TagIndex index_;
  std::vector<Failure>* problems_;
  std::optional<Failure> failure_;
};

// "PATH COUNT SECONDS": an absolute path (which may hold spaces), then two
// positive whole numbers.
std::optional<RateLimit> ParseRateLimit(std::string_view text) {
  auto lastWord = [&text]() {
    while (!text.empty() && IsTrimSpace(text.back())) text.remove_suffix(1);
    std::size_t start = text.size();
    while (start > 0 && !IsTrimSpace(text[start - 1])) --start;
    std::string_view word = text.substr(start);
    text = text.substr(0, start);
    return word;
  };
  // Digits only, at most 12 of them: far beyond any count or period.
  auto positive = [](std::string_view word) -> std::optional<long long> {
    std::optional<unsigned long long> n = ParseDecimal(word);
    if (!n || word.size() > 12 || *n == 0) return std::nullopt;
    return static_cast<long long>(*n);
  };
  std::optional<long long> seconds = positive(lastWord());
  std::optional<long long> count = positive(lastWord());
  std::string path(text);
  Trim(path);
  if (!seconds || !count || !path.starts_with('/')) return std::nullopt;
  return RateLimit{std::move(path), *count, *seconds};
}

// An on/off section: its value, `byDefault` without the section or with a
// word that is neither; the section is kept in `switches` as written.
bool ReadSwitch(SectionReader& read, std::string_view tag, bool byDefault,
                std::vector<SwitchSection>& switches) {
  const std::string name(tag);
  std::optional<std::string> word = read.Trimmed("<" + name + ">", "</" + name + ">");
  if (!word) return byDefault;
  switches.push_back({name, *word});
  return SwitchWord(*word).value_or(byDefault);
}

// SENDER as written, when it holds no placeholder, is SENDER as sent.
std::optional<Failure> FixedSenderProblem(std::string_view sender) {
  if (!IsFixedText(sender)) return std::nullopt;
  std::string used(sender);
  Trim(used);
  if (IsUsableSender(used)) return std::nullopt;
  return Fail(FailureKind::kSenderNotAddress, used);
}

// RECIPIENTS, RATELIMIT, DEBUG and DFILEGUARD: each optional, each turning
// one control on.
AbuseControls ReadAbuseControls(SectionReader& read, std::vector<SwitchSection>& switches) {
  AbuseControls abuse;
  if (std::optional<std::string> list = read.Optional("<RECIPIENTS>", "</RECIPIENTS>")) {
    abuse.recipients.emplace();
    for (std::string_view line : SplitLines(*list)) {
      std::string entry(line);
      Trim(entry);
      if (!entry.empty()) abuse.recipients->push_back(std::move(entry));
    }
  }
  if (std::optional<std::string> limit = read.Optional("<RATELIMIT>", "</RATELIMIT>")) {
    abuse.rateLimit = ParseRateLimit(*limit);
    if (!abuse.rateLimit) read.Report(Fail(FailureKind::kBadRateLimit, *limit));
  }
  abuse.debugAllowed = ReadSwitch(read, "DEBUG", true, switches);
  abuse.dataFileGuard = ReadSwitch(read, "DFILEGUARD", false, switches);
  return abuse;
}

// MAXUPLOAD (a number of bytes, 1 to kMaxUploadCeiling) and PGPMIME (on or
// off, any case): each keeps its default without its section, and any
// other text is a template failure.
void ReadFileOptions(SectionReader& read, Template& t) {
  if (std::optional<std::string> max = read.Trimmed("<MAXUPLOAD>", "</MAXUPLOAD>")) {
    std::optional<unsigned long long> n = ParseDecimal(*max);
    if (n && *n > 0 && *n <= kMaxUploadCeiling) {
      t.maxUpload = static_cast<std::size_t>(*n);
    } else {
      read.Report(Fail(FailureKind::kBadMaxUpload, *max));
    }
  }
  if (std::optional<std::string> pgpMime = read.Trimmed("<PGPMIME>", "</PGPMIME>")) {
    t.pgpMime = EqualsNoCase(*pgpMime, "on");
    if (!t.pgpMime && !EqualsNoCase(*pgpMime, "off")) {
      read.Report(Fail(FailureKind::kBadPgpMime, *pgpMime));
    }
  }
}

// The words of `text`, split at spaces, tabs and line ends.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsTrimSpace(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !IsTrimSpace(text[end])) ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// ALLOWORIGIN: "*" or origins, separated by white space; the first entry
// that is neither is the failure. "*" among origins allows any. Cold: only
// templates with the section come here.
[[gnu::cold]] void ParseAllowOrigin(SectionReader& read, Template& t, std::string_view list) {
  CrossOrigin allowed;
  const std::vector<std::string_view> entries = Words(list);
  if (entries.empty()) {
    read.Report(Fail(FailureKind::kBadAllowOrigin));
    return;
  }
  for (std::string_view entry : entries) {
    if (entry == "*") {
      allowed.any = true;
    } else if (std::optional<std::string> origin = NormalizedOrigin(entry)) {
      allowed.origins.push_back(std::move(*origin));
    } else {
      read.Report(Fail(FailureKind::kBadAllowOrigin, std::string(entry)));
      return;
    }
  }
  t.allowOrigin = std::move(allowed);
}

// FATALMSGFILE, SUCCEEDURL and ALLOWORIGIN: how the answers are given.
// True when SUCCEEDURL is there, even a malformed one (which is reported):
// success is not meant to need a page then.
bool ReadAnswerSections(SectionReader& read, Template& t) {
  t.failurePageFile = read.Trimmed("<FATALMSGFILE>", "</FATALMSGFILE>");
  std::optional<std::string> url = read.Trimmed("<SUCCEEDURL>", "</SUCCEEDURL>");
  if (url && IsFixedText(*url) && IsRedirectTarget(*url)) {
    t.successUrl = *url;
  } else if (url) {
    read.Report(Fail(FailureKind::kBadSucceedUrl, *url));
  }
  if (std::optional<std::string> list = read.Optional("<ALLOWORIGIN>", "</ALLOWORIGIN>")) {
    ParseAllowOrigin(read, t, *list);
  }
  return url.has_value();
}

// Reads every section into `t`, in the order they are looked for. Given
// `fieldsComplete`, each field entry is parsed and reported on its own, and
// it is set false when a bad entry or a missing FORMDATA leaves fields out;
// without it, the first bad entry is the failure. A missing SUCCEEDMSGFILE
// is kept in `t`.
void ReadInto(SectionReader& read, Template& t, bool* fieldsComplete) {
  if (std::optional<std::string> server = read.Optional("<SMTPSERVER>", "</SMTPSERVER>")) {
    MailSections mail;
    mail.server = std::move(*server);
    mail.sender = read.Required("<SENDER>", "</SENDER>");
    if (std::optional<Failure> sender = FixedSenderProblem(mail.sender)) read.Report(*sender);
    mail.subject = read.Required("<SUBJECT>", "</SUBJECT>");
    mail.messageBody = read.Required("<MSGBODY>", "</MSGBODY>");
    mail.mailHeader = read.Trimmed("<MAILHDR>", "</MAILHDR>");
    mail.responseMailHeader = read.Trimmed("<RMAILHDR>", "</RMAILHDR>");
    mail.replyTo = read.Optional("<REPLYTO>", "</REPLYTO>");
    t.mail = std::move(mail);
  }
  t.errorPageFile = read.Required("<ERRMSGFILE>", "</ERRMSGFILE>");
  t.responseSubject = read.Optional("<RSUBJECT>", "</RSUBJECT>");
  t.responseBody = read.Optional("<RMSGBODY>", "</RMSGBODY>");
  t.executeCommand = read.Optional("<EXECUTE>", "</EXECUTE>");
  t.addressFile = read.Trimmed("<ADRFILE>", "</ADRFILE>");
  std::optional<std::string> append = read.Trimmed("<DFILE APPEND>", "</DFILE>");
  std::optional<std::string> truncate;
  if (!append) truncate = read.Trimmed("<DFILE TRUNCATE>", "</DFILE>");
  if (append || truncate) {
    t.dataFile = DataFileSections{append ? std::move(*append) : std::move(*truncate),
                                  append ? DataFileMode::kAppend : DataFileMode::kTruncate,
                                  read.Optional("<DFILEFORMAT>", "</DFILEFORMAT>")};
  }
  std::optional<std::string> fieldSection = read.RequiredOrNone("<FORMDATA>", "</FORMDATA>");
  if (read.failure()) return;

  t.abuse = ReadAbuseControls(read, t.switches);
  ReadFileOptions(read, t);
  if (read.failure()) return;
  const bool successUrl = ReadAnswerSections(read, t);
  if (read.failure()) return;

  if (!fieldSection) {
    // Its absence is reported already, and there is nothing to parse.
    if (fieldsComplete) *fieldsComplete = false;
  } else if (fieldsComplete) {
    std::vector<Result<FieldDefinition>> entries = ParseFieldEntries(*fieldSection);
    if (entries.empty()) {
      read.Report(Fail(FailureKind::kNoFieldEntry));
      *fieldsComplete = false;
    }
    for (Result<FieldDefinition>& entry : entries) {
      if (entry) {
        t.fields.push_back(std::move(*entry));
      } else {
        read.Report(entry.failure());
        *fieldsComplete = false;
      }
    }
  } else if (Result<std::vector<FieldDefinition>> fields = ParseFieldDefinitions(*fieldSection)) {
    t.fields = std::move(*fields);
  } else {
    read.Report(fields.failure());
    return;
  }

  Result<std::optional<std::string>> success =
      Extract(read.index(), "<SUCCEEDMSGFILE>", "</SUCCEEDMSGFILE>", true);
  if (success) {
    t.successPageFile = std::move(*success);
  } else if (!successUrl) {
    t.successPageMissing = success.failure();
  }
}

}  // namespace

std::optional<bool> SwitchWord(std::string_view word) {
  if (EqualsNoCase(word, "on")) return true;
  if (EqualsNoCase(word, "off")) return false;
  return std::nullopt;
}

Result<std::optional<std::string>> ExtractSection(std::string_view text, std::string_view openTag,
                                                  std::string_view closeTag, bool required) {
  return Extract(TagIndex(text), openTag, closeTag, required);
}

Result<Template> ReadSections(TemplateFile file) {
  Template t;
  t.path = std::move(file.path);
  SectionReader read(file.text);
  ReadInto(read, t, nullptr);
  if (read.failure()) return *read.failure();
  return t;
}

TemplateReport ReadSectionsReportingAll(TemplateFile file) {
  TemplateReport report;
  report.parsed.path = std::move(file.path);
  SectionReader read(file.text, &report.problems);
  ReadInto(read, report.parsed, &report.fieldsComplete);
  if (report.parsed.successPageMissing)
    report.problems.push_back(*report.parsed.successPageMissing);
  Result<std::optional<std::string>> errorPage =
      ExtractSection(file.text, "<ERRMSGFILE>", "</ERRMSGFILE>", false);
  report.errorPageNamed = errorPage && errorPage->has_value();
  return report;
}

}  // namespace veltrano
