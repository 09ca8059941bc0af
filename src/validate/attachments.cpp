#include "validate/attachments.hpp"

#include <algorithm>
#include <array>

#include "text/file_names.hpp"

namespace veltrano {

namespace {

using namespace std::string_view_literals;

struct Signature {
  std::string_view extension;
  std::array<std::string_view, 2> starts;  // the file starts with one of them (empty: unused)
};

constexpr std::string_view kZip = "PK\x03\x04"sv;

const Signature kSignatures[] = {
    {"pdf", {"%PDF-"sv}},
    {"png", {"\x89PNG\r\n\x1a\n"sv}},
    {"jpg", {"\xff\xd8\xff"sv}},
    {"jpeg", {"\xff\xd8\xff"sv}},
    {"gif", {"GIF87a"sv, "GIF89a"sv}},
    {"docx", {kZip}},
    {"xlsx", {kZip}},
    {"odt", {kZip}},
    {"ods", {kZip}},
    {"zip", {kZip}},
};

}  // namespace

[[gnu::cold]] bool AttachAccepts(const std::vector<std::string>& extensions, std::string_view name,
                                 std::string_view bytes) {
  const std::string extension = FileExtension(name);
  if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) return false;
  for (const Signature& signature : kSignatures) {
    if (signature.extension != extension) continue;
    return std::any_of(signature.starts.begin(), signature.starts.end(),
                       [bytes](auto start) { return !start.empty() && bytes.starts_with(start); });
  }
  return true;
}

}  // namespace veltrano
