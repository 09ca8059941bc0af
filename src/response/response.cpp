#include "response/response.hpp"

#include "text/text.hpp"

namespace veltrano {

namespace {
constexpr std::string_view kFullHeader = "HTTP/1.0 200 OK\nContent-type: text/html\n\n\n";
constexpr std::string_view kPlainHeader = "Content-type: text/html\n\n";
constexpr std::string_view kPageStart = "<HTML>\n";
constexpr std::string_view kServerTestWord = "microsoft";
}  // namespace

void ReportFatal(std::optional<std::string_view> title, std::string_view message) {
  FatalError error;
  if (title) error.title = std::string(*title);
  error.message = std::string(message);
  throw error;
}

void EndRequest() {
  throw RequestEnded{};
}

void WritePageHeader(const platform::System& system, std::optional<std::string_view> title) {
  std::optional<std::string> server = system.env.Get("SERVER_SOFTWARE");
  bool microsoft = server && FindNoCase(*server, kServerTestWord).has_value();
  std::string page(microsoft ? kFullHeader : kPlainHeader);
  page += kPageStart;
  if (title) {
    page += "<TITLE>";
    page += *title;
    page += "</TITLE>";
  }
  system.output.Write(page);
}

void WritePage(platform::Output& output, std::string_view text) {
  output.Write(text);
}

void WriteFatalPage(const platform::System& system, const FatalError& error) {
  WritePageHeader(system, error.title);
  system.output.Write(error.message);
}

}  // namespace veltrano
