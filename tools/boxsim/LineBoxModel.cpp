#include "LineBoxModel.h"

#include "BoxLog.h"

void LineBoxModel::Receive(char byte, std::vector<std::string>& replies) {
  if (byte == '\n') return;
  if (byte != '\r') {
    line += byte;
    if (line.size() > kMaxLine) {
      BoxLog::Trace("dropped an over-long command line \"" + BoxLog::Escape(line) + "\"");
      line.clear();
    }
    return;
  }
  std::string complete;
  complete.swap(line);
  HandleLine(complete, replies);
}
