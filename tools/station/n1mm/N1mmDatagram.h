// The rotor datagrams of N1MM Logger+, as the logger sends them to its rotor
// program, and the heading datagram it expects back:
//
//   turn: <N1MMRotor><rotor>Yagi</rotor><goazi>55.0</goazi><offset>0.0</offset>
//         <bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>
//   stop: <N1MMRotor><stop><rotor>Yagi</rotor><freqband>21.0</freqband></stop></N1MMRotor>
//   back: "Yagi @ 1460" (the heading in tenths of a degree)
//
// The parser's input is one whole datagram, any bytes at all (it comes from
// the network). The XML is read by expat. A datagram that is not one of the
// two shapes above is refused whole, with the reason: nothing of a refused
// datagram is ever carried out. What is lenient, because loggers differ:
// blanks around values, an XML declaration, elements it does not know
// (freqband among them), a decimal comma ("55,0"), bidirectional as 0/1 or
// false/true. What is refused: a document type declaration (no entities to
// expand), elements nested deeper than kMaxDepth, a field given twice, a
// value that is not a number, a stop beside a turn's fields.
//
// Pure: no state between calls, safe from any thread.
#pragma once

#include <cstddef>
#include <string>

struct N1mmCommand {
  enum class Kind { Turn, Stop };
  Kind kind = Kind::Turn;
  std::string rotor;           // the logger's rotor description, blanks at either end dropped
  double azimuth = 0;          // goazi: where the antenna is to point
  double offset = 0;           // the logger's antenna offset
  bool bidirectional = false;  // the antenna works both ways
};

class N1mmDatagram {
 public:
  // A longer datagram is no rotor command.
  static constexpr size_t kMaxSize = 1024;
  static constexpr int kMaxDepth = 4;

  // False with the reason in `error` ("not well-formed XML: ...",
  // "goazi is not a number", ...).
  static bool Parse(const char* data, size_t size, N1mmCommand& command, std::string& error);

  // "Yagi @ 1460": `name`'s heading datagram for a bearing in whole degrees,
  // as a compass heading (0..359: a bearing of an overlap range, or below
  // 0, comes as the direction it points in).
  static std::string Heading(const std::string& name, int bearing);
};
