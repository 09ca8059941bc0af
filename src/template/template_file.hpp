// Locating and loading the template and the files it names.
// TODO(templates): contract of alias resolution, comment rule and failures.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// Stores the working directory and the template name, resolves the name and
// reads the template into ctx.templateText. Returns only on success.
void LoadTemplate(RequestContext& ctx, std::optional<std::string> name,
                  std::string workingDirectory);

// The path a template-relative name stands for, after the alias file.
std::string ResolveTemplatePath(const RequestContext& ctx, std::string_view name);

// The whole file named by `name` (resolved first), or none.
std::optional<std::string> LoadTextFile(const RequestContext& ctx, std::string_view name);

}  // namespace veltrano
