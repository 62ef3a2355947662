// Checks the emulated boxes' replies byte for byte, without a terminal:
// each case feeds command bytes to a model, lets the antenna move, and
// compares the replies with what the daemon's reply parsers expect.
#include <cstdio>
#include <string>
#include <vector>

#include "Antenna.h"
#include "BoxLog.h"
#include "BoxModel.h"

namespace {

int failures = 0;

struct Box {
  Antenna antenna;
  std::unique_ptr<BoxModel> model;
  double now = 0;

  Box(int number, int start, double speed = 10) : antenna(speed, start, 0), model(BoxModel::Create(number, antenna)) {}

  std::string Send(const std::string& bytes) {
    std::vector<std::string> replies;
    for (char c : bytes) model->Receive(c, replies);
    std::string all;
    for (const std::string& reply : replies) all += reply;
    return all;
  }

  std::string Run(double seconds) {
    std::string all;
    for (double t = 0; t < seconds; t += 0.02) {
      now += 0.02;
      antenna.Advance(0.02);
      std::vector<std::string> replies;
      model->Tick(now, replies);
      for (const std::string& reply : replies) all += reply;
    }
    return all;
  }
};

void Expect(const char* what, const std::string& got, const std::string& want) {
  if (got == want) return;
  ++failures;
  printf("FAIL %s: got \"%s\", want \"%s\"\n", what, BoxLog::Escape(got).c_str(), BoxLog::Escape(want).c_str());
}

void ExpectTrue(const char* what, bool value) {
  if (value) return;
  ++failures;
  printf("FAIL %s\n", what);
}

std::string SpidFrame(const std::string& digits, unsigned char command) {
  std::string frame = "W";
  frame += digits;
  frame += std::string(7, '\0');
  frame += static_cast<char>(command);
  frame += ' ';
  return frame;
}

}  // namespace

int main() {
  ExpectTrue("find by name", BoxModel::Find("Yaesu") && BoxModel::Find("Yaesu")->number == 4);
  ExpectTrue("find by number", BoxModel::Find("12") && BoxModel::Find("12")->number == 12);
  ExpectTrue("unknown model", BoxModel::Find("3") == nullptr && BoxModel::Find("x") == nullptr);

  {
    Box box(2, 10);
    Expect("rotorez poll", box.Send("AI1;"), ";010");
    Expect("rotorez turn", box.Send("AP1020;AM1;"), "");
    box.Run(0.52);
    Expect("rotorez moved", box.Send("AI1;"), ";015");
    box.Send(";");
    box.Run(1);
    Expect("rotorez stopped", box.Send("AI1;"), ";015");
    box.Send("AP1030\r;");
    box.Run(2);
    Expect("rotorez CR form turns, ; after CR is no stop", box.Send("AI1;"), ";030");
  }
  {
    Box box(1, 0);
    box.Send("AP1040;");
    box.Run(1);
    Expect("dcu1 waits for AM1", box.Send("AI1;"), ";000");
    box.Send("AM1;");
    box.Run(5);
    Expect("dcu1 turned", box.Send("AI1;"), ";040");
  }
  {
    Box box(4, 90);
    Expect("yaesu C", box.Send("C\r"), "AZ=090\r\n");
    Expect("yaesu C2", box.Send("c2\r\n"), "AZ=090  EL=000\r\n");
    box.Send("M100\r");
    box.Run(0.5);
    Expect("yaesu moving", box.Send("C\r"), "AZ=095\r\n");
    box.Send("S\r");
    box.Run(1);
    Expect("yaesu stopped", box.Send("C\r"), "AZ=095\r\n");
    box.Send("W095 010\r");
    box.Run(2);
    Expect("yaesu W", box.Send("C2\r"), "AZ=095  EL=010\r\n");
    Expect("yaesu unknown", box.Send("Q\r"), "?>\r\n");
    box.Send("M400\r");
    box.Run(60);
    Expect("yaesu clamps", box.Send("C\r"), "AZ=359\r\n");
  }
  {
    Box box(5, 90);
    Expect("spid status", box.Send(SpidFrame(std::string(3, '\0'), 0x1F)), "W450 ");
    box.Send(SpidFrame("460", 0x2F));  // bearing 100
    box.Run(2);
    Expect("spid stop answers", box.Send(SpidFrame("000", 0x0F)), "W460 ");
    Expect("spid resync after junk", box.Send("xy" + SpidFrame("000", 0x1F)), "W460 ");
  }
  {
    Box box(8, 123, 4);
    Expect("pa poll idle", box.Send("U\r"), "A A=123 S=4 STOP\r");
    box.Send("125\r");
    box.Run(0.1);
    std::string reply = box.Send("U\r");
    Expect("pa poll moving", reply, "A A=123 S=4 MOVE\r");
    ExpectTrue("pa line fits 20 bytes", reply.size() - 1 <= 20);
    box.Send("S\r");
    Expect("pa teardown is silent", box.Send("N\r"), "");
  }
  {
    Box box(9, 10);
    Expect("px wake-up", box.Send("\r"), "MODE PX\rA=010 S=10 STOP\r");
    Expect("px turn", box.Send("A15\r"), "MOTOR ON\r");
    std::string lines = box.Run(0.3);
    ExpectTrue("px reports while turning", lines.find("S=10 MOVE\r") != std::string::npos);
    lines = box.Run(1);
    ExpectTrue("px final line", lines.size() >= 16 && lines.compare(lines.size() - 16, 16, "A=015 S=10 STOP\r") == 0);
    Expect("px quiet when idle", box.Run(1), "");
    Expect("px stop while idle", box.Send("S\r"), "A=015 S=10 STOP\r");
  }
  {
    Box box(12, 123);
    Expect("prosistel init", box.Send("\x02" "AM\r\x02" "A?\r"), "\x02" "A,?,123,R\r\x02" "A,?,123,R\r");
    box.Send("\x02" "AG130\r");
    box.Run(0.2);
    Expect("prosistel busy", box.Send("\x02" "AM\r"), "\x02" "A,?,125,B\r");
    box.Send("\x02" "AG977\r");
    box.Run(1);
    Expect("prosistel stopped", box.Send("\x02" "AM\r"), "\x02" "A,?,125,R\r");
  }

  if (failures == 0) printf("all box model checks passed\n");
  return failures == 0 ? 0 : 1;
}
