// What the virtual receiver understands of the bytes written to it: UBX
// frames (checksum verified) and NMEA sentences (checksum verified when one
// is given). Standard C++ only; fed in arbitrary pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GnssSystems.h"

namespace emu {

enum class ResetKind { Hot, Warm, Cold };

struct ReceiverCommand {
  enum class Kind {
    Reset,            // reset: kind in `reset`
    StopGnss,         // CFG-RST controlled GNSS stop
    StartGnss,        // CFG-RST controlled GNSS start
    RestoreDefaults,  // CFG-CFG with a load mask
    SentenceRate,     // CFG-MSG or $PORZB: `sentence` every `rate` epochs (0: off)
    EnableSystems,    // CFG-GNSS: `systemMask` of the systems named, `systemsNamed`
    OtherUbx,         // a valid frame we do not act on
    OtherNmea,        // a valid sentence we do not act on
    BadChecksum,      // a frame or sentence whose checksum is wrong
  };
  Kind kind = Kind::OtherNmea;
  ResetKind reset = ResetKind::Cold;
  std::string sentence;  // "GGA", "GSA", "GSV", "RMC", "ZDA", ...
  int rate = 0;
  unsigned systemMask = 0;    // kSystemGps, kSystemGalileo, kSystemGlonass
  unsigned systemsNamed = 0;  // which of those bits the message set
  std::uint8_t ubxClass = 0, ubxId = 0;
  bool wantsAck = false;  // a CFG frame that a receiver acknowledges
  std::string text;       // the NMEA sentence or a short frame description
};

class ReceiverInputParser {
 public:
  // Longest UBX payload accepted; longer frames are skipped as noise. CFG
  // messages are far below it.
  static constexpr std::size_t kMaxUbxPayload = 1024;
  // Longest NMEA sentence accepted (82 by the standard, with slack for
  // proprietary ones); a longer run without a line end is dropped.
  static constexpr std::size_t kMaxSentence = 200;

  std::vector<ReceiverCommand> Feed(const char* data, std::size_t size);

 private:
  void FinishUbx(std::vector<ReceiverCommand>& out);
  void FinishNmea(std::vector<ReceiverCommand>& out);

  enum class State { Hunt, UbxSync2, UbxHeader, UbxBody, Nmea };
  State state_ = State::Hunt;
  std::vector<std::uint8_t> frame_;  // class, id, length, payload, checksum
  std::size_t ubxExpected_ = 0;      // bytes of frame_ that make the frame
  std::string sentence_;
};

// UBX frame with sync chars, header and Fletcher checksum.
std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::vector<std::uint8_t>& payload);

}  // namespace emu
