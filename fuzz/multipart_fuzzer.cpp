// multipart/form-data bodies as a visitor may send them. Any body: the
// parser stops inside it and gives C-string values. Fields made from the
// input: framed as a browser frames them, they read back as the same pairs
// the URL-encoded reader makes of the same fields; a file field reads as its
// file name.
#include <fuzzer/FuzzedDataProvider.h>

#include "form/form_input.hpp"
#include "form/multipart.hpp"
#include "fuzz/fuzz_support.hpp"

using veltrano::FormPair;
using veltrano::Result;
using veltrano::fuzz::Fail;

namespace {

constexpr std::string_view kType = "multipart/form-data; boundary=";

bool SamePairs(const std::vector<FormPair>& a, const std::vector<FormPair>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].value != b[i].value) return false;
  }
  return true;
}

std::string PercentEncoded(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : value) {
    const auto b = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

// Keeps the bytes a browser leaves in a quoted name: no '"', CR or LF.
std::string Quotable(std::string text) {
  std::erase_if(text, [](char c) { return c == '"' || c == '\r' || c == '\n'; });
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);

  // The input as a body, with a boundary taken from it.
  const std::string boundary = in.ConsumeRandomLengthString(72);
  const std::string whole(reinterpret_cast<const char*>(data), size);
  if (Result<veltrano::MultipartForm> form =
          veltrano::ParseMultipartForm(std::string(kType) + boundary, whole)) {
    std::vector<std::string> names;
    for (const FormPair& pair : form->pairs) {
      if (pair.value && pair.value->find('\0') != std::string::npos) Fail();
      names.push_back(pair.name);
    }
    // Taking every field's files keeps at most one per field, none empty,
    // each inside the body; the pairs stay as they were.
    Result<veltrano::MultipartForm> kept =
        veltrano::ParseMultipartForm(std::string(kType) + boundary, whole, names);
    if (!kept || !SamePairs(kept->pairs, form->pairs) || kept->files.size() > names.size()) {
      Fail();
    }
    for (const veltrano::FilePart& file : kept->files) {
      if (file.bytes.empty() || file.bytes.data() < whole.data() ||
          file.bytes.data() + file.bytes.size() > whole.data() + whole.size()) {
        Fail();
      }
    }
  }

  // The rest as fields: name (letters and digits), value, perhaps a file.
  struct Field {
    std::string name, value, fileName;
    bool file;
  };
  std::vector<Field> fields;
  while (in.remaining_bytes() > 0 && fields.size() < 20) {
    Field f;
    for (char c : in.ConsumeRandomLengthString(8)) {
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) f.name += c;
    }
    if (f.name.empty()) f.name = "f";
    f.file = in.ConsumeBool();
    if (f.file) f.fileName = Quotable(in.ConsumeRandomLengthString(16));
    f.value = in.ConsumeRandomLengthString(300);
    fields.push_back(std::move(f));
  }
  // A boundary that no content holds, as a browser picks it (within the 70
  // characters a boundary may have: a mark grown by one letter per clash
  // outgrew them on a value of many x).
  std::string mark;
  for (unsigned n = 0, clash = 1; clash; ++n) {
    mark = "b" + std::to_string(n);
    clash = 0;
    for (const Field& f : fields) clash = clash || f.value.find(mark) != std::string::npos;
  }
  std::string body, urlEncoded;
  for (const Field& f : fields) {
    body += "--" + mark + "\r\nContent-Disposition: form-data; name=\"" + f.name + "\"";
    if (f.file) body += "; filename=\"" + f.fileName + "\"\r\nContent-Type: text/plain";
    body += "\r\n\r\n" + f.value + "\r\n";
    urlEncoded += (urlEncoded.empty() ? "" : "&") + f.name + "=" +
                  PercentEncoded(f.file ? f.fileName : f.value);
  }
  body += "--" + mark + "--\r\n";
  Result<veltrano::MultipartForm> multipart =
      veltrano::ParseMultipartForm(std::string(kType) + mark, body);
  Result<std::vector<FormPair>> urlPairs = veltrano::ParseFormData(urlEncoded);
  if (!multipart || !urlPairs || !SamePairs(multipart->pairs, *urlPairs)) Fail();
  return 0;
}
