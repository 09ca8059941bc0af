#include "driver/request.hpp"

#include <exception>
#include <new>

#include "expand/escapers.hpp"
#include "expand/placeholders.hpp"
#include "expand/shell_references.hpp"
#include "form/form_input.hpp"
#include "mail/deliver_mail.hpp"
#include "outputs/data_file.hpp"
#include "outputs/external_program.hpp"
#include "platform/files.hpp"
#include "response/catalogue.hpp"
#include "response/log.hpp"
#include "response/pages.hpp"
#include "template/sections.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"
#include "validate/rate_limit.hpp"
#include "validate/recipients.hpp"
#include "validate/validate_fields.hpp"

namespace veltrano {

namespace {

// The administrator's log of one run. Notices past kMaxNoticeLines are
// counted instead of written, and Finish gives their count one line; the
// failure that ends a run always has its line.
class RunLog final : public Notices {
 public:
  explicit RunLog(platform::ErrorLog& log) : log_(log) {}
  void SetTemplateName(std::string name) { templateName_ = std::move(name); }
  void Note(NoticeKind kind, std::string detail) override {
    if (written_ == kMaxNoticeLines) {
      ++dropped_;
      return;
    }
    ++written_;
    Write(LogText(kind, detail));
  }
  void Failed(const Failure& failure) { Write(LogText(failure)); }
  void Finish() {
    if (dropped_ > 0) Write(LogText(NoticeKind::kLogLinesDropped, std::to_string(dropped_)));
  }

 private:
  void Write(std::string_view text) { log_.WriteLine(LogLine(templateName_, text)); }

  platform::ErrorLog& log_;
  std::string templateName_;
  std::size_t written_ = 0;
  std::size_t dropped_ = 0;
};

// Texts and paths for the mail phase, from the request's values.
class RequestTexts final : public MailTexts {
 public:
  RequestTexts(const PlaceholderValues& values, const PathAliases& aliases,
               const std::string& templatePath)
      : values_(values), aliases_(aliases), templatePath_(templatePath) {}
  Result<std::string> Expand(std::string_view text) override {
    PlainText plain;
    return ExpandPlaceholders(text, values_, plain);
  }
  Result<std::string> ResolvePath(std::string_view name) override {
    return aliases_.Resolve(name, templatePath_);
  }

 private:
  const PlaceholderValues& values_;
  const PathAliases& aliases_;
  const std::string& templatePath_;
};

// What a template without SMTPSERVER asks to be mailed, or empty.
std::string UnsentMail(const Template& t) {
  std::string asked;
  auto add = [&asked](std::string_view what) {
    if (!asked.empty()) asked += ", ";
    asked += what;
  };
  for (const FieldDefinition& field : t.fields) {
    if (field.sendTo) add("sendto field " + field.name);
    if (field.respondTo && t.responseBody) add("respondto field " + field.name);
  }
  if (t.addressFile) add("ADRFILE");
  if (t.responseBody) add("RMSGBODY");
  return asked;
}

class Request {
 public:
  Request(platform::System& system, const RunSettings& settings, RunLog& log)
      : system_(system), settings_(settings), log_(log) {}

  Status Run(std::string_view programPath) {
    std::optional<std::string> directory = WorkingDirectoryOf(programPath);
    if (!directory) {
      return Fail(FailureKind::kWrongProgramName, {}, "path " + std::string(programPath));
    }
    // A failure leaves the run in the web server's directory, as intended.
    // Once inside a directory named by a relative path, that path no longer
    // leads to the program's files: they are found from the current directory.
    std::string workingDirectory = *directory;
    if (!directory->empty() && platform::ChangeDirectory(*directory) && directory->front() != '/') {
      workingDirectory.clear();
    }
    QueryTokens query = SplitQuery(system_.env.Get("QUERY_STRING").value_or(""));
    log_.SetTemplateName(query.templateName.value_or(""));
    debug_ = query.debugToken && FindNoCase(*query.debugToken, "debug");
    PathAliases aliases(std::move(workingDirectory));

    Result<TemplateFile> file = LoadTemplate(query.templateName, aliases);
    if (!file) return file.failure();
    Result<Template> parsed = ReadSections(std::move(*file));
    if (!parsed) return parsed.failure();
    const Template& t = *parsed;

    Result<FormInput> form = ReadForm(system_.env, system_.input, log_);
    if (!form) return form.failure();
    Submission submission = CheckSubmission(t.fields, *form);
    PlaceholderValues values(t.fields, submission.values, system_.env, system_.clock);
    if (submission.hasFieldErrors) return ShowErrorPage(t, aliases, submission, values);
    debug_ = debug_ && t.abuse.debugAllowed;
    if (std::optional<std::string> trap = SprungTrap(t.fields, submission.values)) {
      // A robot: it is told all went well, and nothing is done for it.
      log_.Note(NoticeKind::kHoneypotFilled, "field " + *trap + ", client " + Client());
      return ShowSuccessPage(t, aliases, values);
    }
    if (t.abuse.rateLimit) {
      if (Status counted = CountAgainstLimit(*t.abuse.rateLimit); !counted) return counted;
    }
    return Complete(t, aliases, submission.values, values);
  }

 private:
  // The page file the template names, through the aliases.
  static Result<std::string> PageFile(const PathAliases& aliases, const std::string& name,
                                      const std::string& templatePath, FailureKind unreadable) {
    Result<std::string> path = aliases.Resolve(name, templatePath);
    if (!path) return path.failure();
    return LoadPageFile(*path, unreadable);
  }

  Status Write(const Result<std::string>& page) {
    if (!page) return page.failure();
    system_.output.Write(*page);
    return {};
  }

  Status ShowErrorPage(const Template& t, const PathAliases& aliases, const Submission& submission,
                       const PlaceholderValues& values) {
    Result<std::string> file =
        PageFile(aliases, t.errorPageFile, t.path, FailureKind::kErrorPageUnreadable);
    if (!file) return file.failure();
    return Write(ErrorPage(*file, t.fields, submission.checks, values));
  }

  std::string Client() const { return system_.env.Get("REMOTE_ADDR").value_or("(no REMOTE_ADDR)"); }

  // The name of a honeypot field that came filled in, if any.
  static std::optional<std::string> SprungTrap(const std::vector<FieldDefinition>& fields,
                                               const FieldValues& values) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].honeypot && values[i] && !values[i]->empty()) return fields[i].name;
    }
    return std::nullopt;
  }

  Status CountAgainstLimit(const RateLimit& limit) {
    RateVerdict verdict = CountSubmission(limit, system_.env.Get("REMOTE_ADDR").value_or(""),
                                          system_.clock.Now().epochSeconds, settings_.budget);
    if (verdict.droppedLines > 0) {
      log_.Note(NoticeKind::kRateLimitRepaired,
                limit.path + ": " + std::to_string(verdict.droppedLines) + " line(s)");
    }
    switch (verdict.outcome) {
      case RateVerdict::Outcome::kAccepted:
        return {};
      case RateVerdict::Outcome::kUnusable:
        log_.Note(NoticeKind::kRateLimitUnusable, verdict.problem);
        return {};
      case RateVerdict::Outcome::kRefused:
        break;
    }
    return Fail(FailureKind::kTooManySubmissions, {},
                "client " + Client() + ", " + std::to_string(limit.count) + " in " +
                    std::to_string(limit.seconds) + " s");
  }

  Status ShowSuccessPage(const Template& t, const PathAliases& aliases,
                         const PlaceholderValues& values) {
    if (t.successPageMissing) return *t.successPageMissing;
    Result<std::string> file =
        PageFile(aliases, *t.successPageFile, t.path, FailureKind::kSuccessPageUnreadable);
    if (!file) return file.failure();
    return Write(SuccessPage(*file, values));
  }

  // The work of an accepted submission, in its fixed order.
  Status Complete(const Template& t, const PathAliases& aliases, FieldValues& fieldValues,
                  const PlaceholderValues& values) {
    Transcript transcript;
    if (Status mailed = Mail(t, aliases, fieldValues, values, transcript); !mailed) return mailed;
    if (t.executeCommand) {
      if (Status ran = Execute(*t.executeCommand, values); !ran) return ran;
    }
    if (t.dataFile) {
      if (Status written = Record(*t.dataFile, t.abuse.dataFileGuard, aliases, t.path, values);
          !written)
        return written;
    }
    if (t.successPageMissing) return *t.successPageMissing;
    if (debug_) {
      WriteDebugPage(system_.output, system_.env, transcript);
      return {};
    }
    return ShowSuccessPage(t, aliases, values);
  }

  Status Mail(const Template& t, const PathAliases& aliases, FieldValues& fieldValues,
              const PlaceholderValues& values, Transcript& transcript) {
    if (!t.mail) {
      if (std::string asked = UnsentMail(t); !asked.empty()) {
        log_.Note(NoticeKind::kMailWithoutServer, asked);
      }
      return {};
    }
    if (Status allowed = CheckRecipients(t, fieldValues); !allowed) return allowed;
    SocketTimeouts timeouts;
    timeouts.budget = settings_.budget;
    SocketTransport socket(timeouts);
    SmtpClient::Options options;
    options.notices = &log_;
    options.budget = settings_.budget;
    SmtpClient smtp(settings_.transport ? *settings_.transport : socket, system_.clock, options);
    PgpEncryptor pgp(system_.env, ChildLimits(), settings_.pgpDirectory);
    RequestTexts texts(values, aliases, t.path);
    MailOrder order{*t.mail, t.fields, t.addressFile, t.responseSubject, t.responseBody};
    Status delivered = DeliverMail(order, fieldValues, texts, smtp, pgp, log_);
    if (!delivered) return delivered;
    smtp.Quit();
    transcript = smtp.transcript();
    return {};
  }

  // With RECIPIENTS, every sendto address must be one the template allows,
  // before any mail goes out: otherwise the form relays a visitor's mail to
  // whomever the visitor names.
  static Status CheckRecipients(const Template& t, const FieldValues& fieldValues) {
    if (!t.abuse.recipients) return {};
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
      const std::optional<std::string>& address = fieldValues[i];
      if (!t.fields[i].sendTo || !address || address->empty()) continue;
      if (!RecipientAllowed(*address, *t.abuse.recipients)) {
        return Fail(FailureKind::kRecipientRefused, *address,
                    "field " + t.fields[i].name + ": " + *address);
      }
    }
    return {};
  }

  Status Execute(std::string command, const PlaceholderValues& values) {
    Trim(command);
    ShellReferences references;
    Result<std::string> expanded = ExpandPlaceholders(command, values, references);
    if (!expanded) return expanded.failure();
    return RunExternalProgram(*expanded, references.environment(), system_.output, log_,
                              ChildLimits());
  }

  Status Record(const DataFileSections& dataFile, bool guard, const PathAliases& aliases,
                const std::string& templatePath, const PlaceholderValues& values) {
    if (!dataFile.format) return Fail(FailureKind::kNoDataFileFormat);
    Result<std::string> path = aliases.Resolve(dataFile.name, templatePath);
    if (!path) return path.failure();
    DataRecord escaper(guard);
    Result<std::string> record = ExpandPlaceholders(*dataFile.format, values, escaper);
    if (!record) return record.failure();
    WriteDataFile(*path, dataFile.mode, std::move(*record), log_, settings_.budget);
    return {};
  }

  // A child's own limits, within the request's budget.
  platform::ChildLimits ChildLimits() const {
    platform::ChildLimits limits = settings_.childLimits;
    limits.budget = settings_.budget;
    return limits;
  }

  platform::System& system_;
  const RunSettings& settings_;
  RunLog& log_;
  bool debug_ = false;
};

void DiscardUnreadBody(platform::System& system) {
  std::optional<std::string> length = system.env.Get("CONTENT_LENGTH");
  if (!length) return;
  long long announced = LeadingInteger(*length, static_cast<long long>(kMaxDiscardedBody));
  if (announced > 0) system.input.DiscardUpTo(static_cast<std::size_t>(announced));
}

}  // namespace

std::optional<std::string> WorkingDirectoryOf(std::string_view programPath) {
  std::optional<std::size_t> at = FindNoCase(programPath, kExecutableName);
  if (!at) return std::nullopt;
  // POSIX names are case-sensitive: the directory keeps the path's own case.
  return std::string(programPath.substr(0, *at));
}

QueryTokens SplitQuery(std::string_view query) {
  QueryTokens tokens;
  std::size_t pos = 0;
  for (std::optional<std::string>* slot : {&tokens.templateName, &tokens.debugToken}) {
    while (pos < query.size() && query[pos] == '&') ++pos;
    if (pos == query.size()) break;
    std::size_t end = query.find('&', pos);
    if (end == std::string_view::npos) end = query.size();
    *slot = std::string(query.substr(pos, end - pos));
    pos = end;
  }
  return tokens;
}

int RunProgram(std::string_view programPath, platform::System& system,
               const RunSettings& settings) {
  RunLog log(system.log);
  std::optional<Failure> failure;
  try {
    Request request(system, settings, log);
    if (Status done = request.Run(programPath); !done) failure = done.failure();
  } catch (const std::bad_alloc&) {
    failure = Fail(FailureKind::kOutOfResources);
  } catch (const std::exception& e) {
    // A fault of the program's own (phases return their failures); the
    // visitor still gets a page, the administrator the library's words.
    failure = Fail(FailureKind::kUnexpected, {}, e.what());
  } catch (...) {
    failure = Fail(FailureKind::kUnexpected, {}, "an exception of no standard type");
  }
  // Before the response leaves: a web server that is still writing the body
  // (Apache's mod_cgid) would otherwise stall and cut the response off.
  DiscardUnreadBody(system);
  if (failure) {
    log.Failed(*failure);
    WriteFatalPage(system.output, system.env, *failure);
  }
  log.Finish();
  system.output.Flush();
  return 0;
}

}  // namespace veltrano
