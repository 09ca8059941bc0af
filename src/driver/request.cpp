#include "driver/request.hpp"

#include <exception>
#include <new>

#include "expand/placeholders.hpp"
#include "form/form_input.hpp"
#include "mail/deliver_mail.hpp"
#include "outputs/data_file.hpp"
#include "outputs/external_program.hpp"
#include "platform/files.hpp"
#include "response/answers.hpp"
#include "response/catalogue.hpp"
#include "response/log.hpp"
#include "response/pages.hpp"
#include "template/sections.hpp"
#include "template/state_files.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"
#include "validate/abuse.hpp"
#include "validate/validate_fields.hpp"

namespace veltrano {

namespace {

// The administrator's log of one run. Notices past kMaxNoticeLines are
// counted instead of written, and Finish gives their count one line; the
// failure that ends a run always has its line. The clock is read for each
// line written, and only then.
class RunLog final : public Notices {
 public:
  explicit RunLog(platform::System& system) : system_(system) {}
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
  void Write(std::string_view text) {
    const std::string client = system_.env.Get("REMOTE_ADDR").value_or("");
    const LogOrigin origin{system_.clock.Now(), client, templateName_, system_.log.ProcessId()};
    system_.log.WriteLine(LogLine(origin, text));
  }

  platform::System& system_;
  std::string templateName_;
  std::size_t written_ = 0;
  std::size_t dropped_ = 0;
};

class Request {
 public:
  Request(platform::System& system, const RunSettings& settings, RunLog& log)
      : system_(system), settings_(settings), log_(log), style_(PageStyle(system.env)) {}

  Status Run(std::string_view programPath) {
    // Every log line of the run names the template, the first one too.
    QueryTokens query = SplitQuery(system_.env.Get("QUERY_STRING").value_or(""));
    log_.SetTemplateName(query.templateName.value_or(""));
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
    debug_ = query.debugToken && FindNoCase(*query.debugToken, "debug");
    PathAliases aliases(std::move(workingDirectory), &log_);

    Result<TemplateFile> file = LoadTemplate(query.templateName, aliases);
    if (!file) return file.failure();
    Result<Template> parsed = ReadSections(std::move(*file));
    if (!parsed) return parsed.failure();
    const Template& t = template_.emplace(std::move(*parsed));
    // From here on every answer is given as the template and the request
    // ask: JSON or a page, with or without the cross-origin headers.
    style_ = AnswerStyleFor(system_.env, t.allowOrigin);
    if (t.allowOrigin && system_.env.Get("REQUEST_METHOD") == "OPTIONS") {
      // A browser asks whether it may post: nothing is read, sent or logged.
      system_.output.Write(PreflightAnswer(style_));
      return {};
    }
    Result<std::optional<std::string>> failurePage = LoadFailurePage(t, aliases);
    if (!failurePage) return failurePage.failure();
    failurePage_ = std::move(*failurePage);
    if (Status distinct = CheckStateFiles(t, aliases); !distinct) return distinct;
    Result<PageFiles> pages = LoadPages(t, aliases);
    if (!pages) return pages.failure();

    Result<FormInput> form = ReadForm(system_.env, system_.input, log_, FileRulesOf(t));
    if (!form) return form.failure();
    Submission submission = CheckSubmission(t.fields, *form);
    form->files.clear();  // the files the mails take live on in the submission alone
    if (failurePage_) shown_ = submission.values;
    if (submission.hasFieldErrors) return ShowFieldErrors(t, pages->errorPage, submission);
    debug_ = debug_ && t.abuse.debugAllowed;
    const std::optional<std::string> client = system_.env.Get("REMOTE_ADDR");
    if (SprungTrap(t.fields, submission.values, client, log_)) {
      // A robot: it is told all went well, and nothing is done for it.
      return Succeed(t, MakeSuccessPage(t, pages->successPage, Values(t, submission.values)));
    }
    if (t.abuse.rateLimit) {
      if (Status counted = CountAgainstLimit(
              *t.abuse.rateLimit, client, system_.clock.Now().epochSeconds, settings_.budget, log_);
          !counted)
        return counted;
    }
    return Complete(t, aliases, pages->successPage, submission.values, std::move(submission.files));
  }

  // The answer to the failure that ended the run, in the run's style. The
  // site's failure page, when the template names one, is expanded with what
  // the run had read by then; one that can't be made leaves a line, and the
  // program's own page stands in.
  [[gnu::cold]] std::string AnswerFor(const Failure& failure) {
    if (failurePage_ && !style_.json && failure.kind != FailureKind::kNoCgiEnvironment) {
      try {
        const PageText page = PageFor(failure);
        const FieldValues none(template_->fields.size());
        const FieldValues& values = shown_.size() == none.size() ? shown_ : none;
        Result<std::string> site = FailurePage(*failurePage_, page, Values(*template_, values));
        if (site) return SiteFailureAnswer(style_, page.status, std::move(*site));
        log_.Note(NoticeKind::kFailurePageNotUsed, LogText(site.failure()));
      } catch (const std::exception& e) {
        log_.Note(NoticeKind::kFailurePageNotUsed, e.what());
      }
    }
    return FailureAnswer(style_, failure);
  }

 private:
  static FileRules FileRulesOf(const Template& t) {
    FileRules rules{{}, t.maxUpload};
    for (const FieldDefinition& field : t.fields) {
      if (field.attach) rules.fields.push_back(field.name);
    }
    return rules;
  }

  PlaceholderValues Values(const Template& t, const FieldValues& values) const {
    return PlaceholderValues(t.fields, values, system_.env, system_.clock);
  }

  Status ShowFieldErrors(const Template& t, const std::string& errorPage,
                         const Submission& submission) {
    const PlaceholderValues values = Values(t, submission.values);
    if (style_.json) {
      Result<std::vector<FieldError>> errors = FieldErrors(t.fields, submission.checks, values);
      if (!errors) return errors.failure();
      system_.output.Write(FieldErrorsAnswer(style_, *errors));
      return {};
    }
    Result<std::string> page = ErrorPage(errorPage, t.fields, submission.checks, values);
    if (!page) return page.failure();
    system_.output.Write(SitePageAnswer(style_, std::move(*page)));
    return {};
  }

  // The success page for `values`; with SUCCEEDURL there is none to make.
  static Result<std::string> MakeSuccessPage(const Template& t,
                                             const std::optional<std::string>& file,
                                             const PlaceholderValues& values) {
    if (t.successUrl) return std::string();
    return SuccessPage(*file, values);
  }

  // Success: the redirect of SUCCEEDURL, or the success page.
  Status Succeed(const Template& t, const Result<std::string>& page) {
    if (!page) return page.failure();
    system_.output.Write(t.successUrl ? RedirectAnswer(style_, *t.successUrl)
                                      : SuccessAnswer(style_, *page));
    return {};
  }

  // The work of an accepted submission, in its fixed order. Recipient
  // values go on as the mails take them, in lower case.
  Status Complete(const Template& t, const PathAliases& aliases,
                  const std::optional<std::string>& successPage, const FieldValues& submitted,
                  FieldFiles files) {
    std::optional<MailOrder> order;
    if (t.mail) {
      order.emplace(MailOrder{*t.mail, t.fields, t.addressFile, t.responseSubject, t.responseBody,
                              t.pgpMime});
    }
    const FieldValues lowered = order ? LowerCaseRecipients(*order, submitted) : submitted;
    if (failurePage_) shown_ = lowered;
    const PlaceholderValues values = Values(t, lowered);
    // Made before anything is sent: a page that can't be made ends the
    // request while nothing is done yet.
    Result<std::string> page = debug_ ? std::string() : MakeSuccessPage(t, successPage, values);
    if (!page) return page.failure();
    Transcript transcript;
    if (order) {
      if (Status mailed =
              Mail(t, *order, aliases, submitted, lowered, std::move(files), transcript);
          !mailed) {
        return mailed;
      }
    } else if (std::string asked = UnsentMail(t); !asked.empty()) {
      log_.Note(NoticeKind::kMailWithoutServer, asked);
    }
    if (t.executeCommand) {
      if (Status ran =
              RunExecuteCommand(*t.executeCommand, values, system_.output, log_, ChildLimits());
          !ran)
        return ran;
    }
    if (t.dataFile) {
      if (Status written = StoreDataRecord(*t.dataFile, t.abuse.dataFileGuard, aliases, t.path,
                                           values, log_, settings_.budget);
          !written)
        return written;
    }
    if (debug_) {
      system_.output.Write(OwnPage(style_, DebugPage(transcript)));
      return {};
    }
    return Succeed(t, page);
  }

  // Every mail built first, then all sent in one session.
  Status Mail(const Template& t, const MailOrder& order, const PathAliases& aliases,
              const FieldValues& submitted, const FieldValues& lowered, FieldFiles files,
              Transcript& transcript) {
    if (Status allowed = CheckRecipients(t, submitted); !allowed) return allowed;
    SocketTimeouts timeouts;
    timeouts.budget = settings_.budget;
    SocketTransport socket(timeouts);
    SmtpTransport& transport = settings_.transport ? *settings_.transport : socket;
    const std::optional<std::string> hostName = transport.LocalHostName();
    PgpEncryptor pgp(system_.env, ChildLimits(), settings_.pgpDirectory);
    const std::string_view messageIdHost = hostName ? std::string_view(*hostName) : "";
    const MailSources sources{system_.env, system_.clock, aliases, t.path, pgp, messageIdHost};
    Result<Outbox> outbox = BuildOutbox(order, submitted, lowered, sources, log_, std::move(files));
    if (!outbox) return outbox.failure();
    SmtpClient::Options options;
    options.budget = settings_.budget;
    Result<Transcript> sent =
        SendOutbox(*outbox, transport, t.mail->server, hostName, options, log_);
    if (!sent) return sent.failure();
    transcript = std::move(*sent);
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
  // What a failure's answer needs, kept past the phase that fails.
  AnswerStyle style_;
  std::optional<Template> template_;
  std::optional<std::string> failurePage_;  // FATALMSGFILE's text
  FieldValues shown_;                       // the values it shows, once read
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

int RunProgram(std::string_view programPath, platform::System& system,
               const RunSettings& settings) {
  RunLog log(system);
  Request request(system, settings, log);
  std::optional<Failure> failure;
  try {
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
    system.output.Write(request.AnswerFor(*failure));
  }
  log.Finish();
  system.output.Flush();
  return 0;
}

}  // namespace veltrano
