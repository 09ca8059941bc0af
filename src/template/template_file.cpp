#include "template/template_file.hpp"

#include "platform/files.hpp"
#include "response/response.hpp"

namespace veltrano {

void LoadTemplate(RequestContext& ctx, std::optional<std::string> name,
                  std::string workingDirectory) {
  ctx.workingDirectory = std::move(workingDirectory);
  if (!name) {
    ReportFatal("Template error",
                "A template filename was not specified in the form ACTION.  Please recheck html "
                "file");
  }
  ctx.templatePath = *name;
  ReportFatal("Veltrano error", "Templates can not be loaded by this build yet.");
}

std::string ResolveTemplatePath(const RequestContext&, std::string_view name) {
  return std::string(name);
}

std::optional<std::string> LoadTextFile(const RequestContext& ctx, std::string_view name) {
  return platform::ReadTextFile(ResolveTemplatePath(ctx, name));
}

}  // namespace veltrano
