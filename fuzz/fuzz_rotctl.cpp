// Fuzzes the station's rotctld command language: any bytes from a client,
// cut into lines as a session cuts them, become requests whose words hold
// no blank, whose extended separator is a line feed or the punctuation that
// asked for it, and whose answer always ends with its "RPRT n" line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rotctld/RotctlParser.h"
#include "rotctld/RotctlReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    for (const RotctlRequest& request : RotctlParser::ParseLine(text.substr(start, end - start))) {
      if (request.name.find_first_of(" \t") != std::string::npos) abort();
      for (const std::string& arg : request.args) {
        if (arg.empty() || arg.find_first_of(" \t") != std::string::npos) abort();
      }
      if (request.separator != '\n' &&
          (!request.extended || !RotctlParser::IsExtendedPrefix(request.separator))) {
        abort();
      }
      RotctlReply reply(request);
      reply.Value("Azimuth", "1.000000");
      for (int code : {RotctlReply::kOk, RotctlReply::kInvalidParameter}) {
        const std::string answer = reply.Finish(code);
        const std::string last = "RPRT " + std::to_string(code) + "\n";
        if (code != RotctlReply::kOk || request.extended) {
          if (answer.size() < last.size() ||
              answer.compare(answer.size() - last.size(), last.size(), last) != 0) {
            abort();
          }
        }
      }
    }
    start = end + 1;
  }
  return 0;
}
