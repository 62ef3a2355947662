#include "rotctld/RotctlReply.h"

RotctlReply::RotctlReply(const RotctlRequest& request)
    : extended(request.extended), separator(request.separator) {
  header = request.name + ":";
  for (size_t i = 0; i < request.args.size(); ++i) header += " " + request.args[i];
}

void RotctlReply::Value(const std::string& key, const std::string& value) {
  records.push_back(extended ? key + ": " + value : value);
}

void RotctlReply::Record(const std::string& text) { records.push_back(text); }

std::string RotctlReply::Finish(int code) const {
  std::string result = "RPRT " + std::to_string(code) + "\n";
  if (!extended) {
    if (code != kOk) return result;
    std::string out;
    for (const std::string& record : records) out += record + "\n";
    if (records.empty() || reportSuccess) out += result;
    return out;
  }
  std::string out = header + separator;
  if (code == kOk) {
    for (const std::string& record : records) out += record + separator;
  }
  return out + result;
}
