#include "validate/validate_fields.hpp"

#include <algorithm>

#include "form/form_input.hpp"
#include "text/text.hpp"
#include "validate/pages.hpp"

namespace veltrano {

namespace {

bool PassesInt(std::string_view value) {
  // The range begins at '(' so that signs, points, brackets and the other
  // arithmetic characters pass as well as digits.
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= '(' && c <= '9'; });
}

bool PassesEmail(std::string_view value) {
  return value.find('@') != std::string_view::npos && value.find('.') != std::string_view::npos;
}

}  // namespace

bool PassesCardChecksum(std::string_view value) {
  int sum = 0;
  bool doubled = false;  // the last character is position 1, not doubled
  for (auto it = value.rbegin(); it != value.rend(); ++it) {
    char c = *it;
    if (c == ' ') continue;
    int digit = (c >= '0' && c <= '9') ? c - '0' : 0;
    if (doubled) {
      digit *= 2;
      if (digit > 9) digit -= 9;
    }
    sum = (sum + digit) % 10;
    doubled = !doubled;
  }
  return sum == 0;
}

void CheckRequired(RequestContext& ctx, FormField& field) {
  if (field.required && (!field.value || field.value->empty())) {
    field.isMissing = true;
    ctx.hasFieldErrors = true;
  } else if (!field.required && !field.value) {
    field.isMissing = true;
  }
}

void CheckType(RequestContext& ctx, FormField& field) {
  if (field.isMissing || !field.value) return;
  bool passes = true;
  switch (field.type) {
    case FieldType::kInt:
      passes = PassesInt(*field.value);
      break;
    case FieldType::kEmail:
      passes = PassesEmail(*field.value);
      break;
    case FieldType::kCreditCard:
      passes = PassesCardChecksum(*field.value);
      break;
    case FieldType::kNone:
      break;
  }
  if (!passes) {
    field.isInvalid = true;
    ctx.hasFieldErrors = true;
  }
}

void ValidateFields(RequestContext& ctx) {
  FormInput form;
  form.ReadForm(ctx.system, "POST");
  for (FormField& field : ctx.fields) {
    field.value = field.name ? form.LookupFormValue(*field.name) : std::nullopt;
    Trim(field.value);
    field.isMissing = false;
    field.isInvalid = false;
    CheckRequired(ctx, field);
    CheckType(ctx, field);
  }
  if (ctx.hasFieldErrors) ShowErrorPage(ctx);
}

}  // namespace veltrano
