// Hot paths of one request, in memory: placeholder expansion of a large
// body, parsing the example template's field definitions, and a whole
// request for the example site (template load to success page, no mail).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "driver/request.hpp"
#include "expand/placeholders.hpp"
#include "platform/files.hpp"
#include "support/fake_system.hpp"
#include "template/field_definitions.hpp"

namespace {

using veltrano::testing::FakeSystem;

void BM_ExpandLargeBody(benchmark::State& state) {
  FakeSystem fake;
  std::vector<veltrano::FieldDefinition> fields(20);
  veltrano::FieldValues values(20);
  for (int i = 0; i < 20; ++i) {
    fields[i].name = "field" + std::to_string(i);
    values[i] = std::string(40, 'v');
  }
  veltrano::PlaceholderValues lookup(fields, values, fake.env, fake.clock);
  std::string body;
  // About 13,000 characters once expanded, below the limit of 15,359.
  while (body.size() < 6000) body += "Line with $field7$ and $field19$ at $systemtime$.\n";
  for (auto _ : state) {
    veltrano::PlainText plain;
    benchmark::DoNotOptimize(veltrano::ExpandPlaceholders(body, lookup, plain));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ExpandLargeBody);

void BM_ParseFieldDefinitions(benchmark::State& state) {
  std::string section;
  for (int i = 0; i < 50; ++i) {
    section += "\n<NAME=\"f" + std::to_string(i) +
               "\" required REQUIREDERR=\"Please fill in this field.\" TYPE=\"EMAIL\" "
               "TYPEERR=\"That is not an address.\">";
  }
  for (auto _ : state) {
    auto fields = veltrano::ParseFieldDefinitions(section);
    benchmark::DoNotOptimize(fields->data());
  }
}
BENCHMARK(BM_ParseFieldDefinitions);

// A whole accepted submission to the example site, mail left out: what one
// CGI process does besides starting up.
void BM_ExampleRequestWithoutMail(benchmark::State& state) {
  namespace fs = std::filesystem;
  fs::path site = fs::temp_directory_path() / "veltrano-bench-site";
  fs::create_directories(site);
  for (const char* name : {"success.htm", "error.htm"}) {
    fs::copy_file(fs::path(VELTRANO_SOURCE_DIR) / "examples" / name, site / name,
                  fs::copy_options::overwrite_existing);
  }
  // The example template without its mail sections.
  std::string tpl =
      "<ERRMSGFILE>error.htm</ERRMSGFILE><SUCCEEDMSGFILE>success.htm"
      "</SUCCEEDMSGFILE>\n<FORMDATA>\n<NAME=\"name\" required "
      "REQUIREDERR=\"Name?\">\n<NAME=\"email\" TYPE=\"EMAIL\" TYPEERR=\"Bad\">\n"
      "</FORMDATA>\n";
  std::FILE* f = std::fopen((site / "bench.tpl").c_str(), "w");
  std::fputs(tpl.c_str(), f);
  std::fclose(f);
  fs::path before = fs::current_path();
  std::string body = "name=Ann+Example&email=ann%40example.org";
  std::string program = (site / "veltrano2.exe").string();
  for (auto _ : state) {
    FakeSystem fake;
    fake.env.vars = {{"QUERY_STRING", "bench.tpl"},
                     {"REQUEST_METHOD", "POST"},
                     {"CONTENT_LENGTH", std::to_string(body.size())}};
    fake.input.bytes = body;
    veltrano::RunProgram(program, fake.system);
    benchmark::DoNotOptimize(fake.output.bytes.data());
  }
  fs::current_path(before);
  fs::remove_all(site);
}
BENCHMARK(BM_ExampleRequestWithoutMail);

}  // namespace

BENCHMARK_MAIN();
