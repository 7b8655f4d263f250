#include "ErrorAlertSetting.h"

#include "Names.h"

namespace bundlecheck {

namespace {

const char* const variable = "QUERN_ERROR_ALERT";

// "a string", "an integer", ... as findings name a value's type.
std::string typeName(const PlistValue& value) {
  using Type = PlistValue::Type;
  switch (value.type) {
    case Type::String:
      return "a string";
    case Type::Integer:
      return "an integer";
    case Type::Real:
      return "a real";
    case Type::Boolean:
      return value.boolean ? "the boolean true" : "the boolean false";
    case Type::Date:
      return "a date";
    case Type::Data:
      return "data";
    case Type::Array:
      return "an array";
    case Type::Dict:
      break;
  }
  return "a dictionary";
}

}  // namespace

void checkErrorAlert(const PlistValue& root, Report& report) {
  report.errorAlert = false;
  auto add = [&](Code code, const std::string& message) {
    report.findings.push_back(Finding{code, report.infoPlistPath, 0, message});
  };
  const PlistValue* env = root.find("LSEnvironment");
  if (!env) {
    return;
  }
  if (env->type != PlistValue::Type::Dict) {
    add(Code::PlistEnvironment, "LSEnvironment is " + typeName(*env) +
                                    ", not a dictionary; the system sets none "
                                    "of its variables");
    return;
  }
  for (const auto& entry : env->dict) {
    const PlistValue& value = entry.second;
    if (entry.first != variable) {
      if (!likelyMeant(entry.first, {variable}).empty()) {
        add(Code::PlistErrorAlert,
            "LSEnvironment sets " + inQuotes(entry.first) + ", not " +
                variable + "; the launcher reads only that name");
      }
      continue;
    }
    if (value.type != PlistValue::Type::String) {
      add(Code::PlistErrorAlert,
          std::string("LSEnvironment sets ") + variable + " to " +
              typeName(value) +
              ", not a string; only the string \"true\" switches the error "
              "alert on");
      continue;
    }
    report.errorAlert = value.text == "true";
    if (!*report.errorAlert) {
      add(Code::PlistErrorAlert, std::string("LSEnvironment sets ") + variable +
                                     " to " + inQuotes(value.text) +
                                     "; only \"true\" switches the error alert "
                                     "on");
    }
  }
}

}  // namespace bundlecheck
