#include "VirtualReceiverInput.h"

#include <cstdlib>

#include "TextFormat.h"

namespace emu {

namespace {

constexpr std::uint8_t kSync1 = 0xB5;
constexpr std::uint8_t kSync2 = 0x62;
constexpr std::uint8_t kClassCfg = 0x06;
constexpr std::uint8_t kIdCfgMsg = 0x01;
constexpr std::uint8_t kIdCfgRst = 0x04;
constexpr std::uint8_t kIdCfgCfg = 0x09;
constexpr std::uint8_t kIdCfgGnss = 0x3E;
constexpr std::uint8_t kClassNmea = 0xF0;
constexpr std::size_t kUbxHeader = 4;  // class, id, length (2)

unsigned U16(const std::uint8_t* p) { return p[0] | (static_cast<unsigned>(p[1]) << 8); }
unsigned U32(const std::uint8_t* p) {
  return p[0] | (static_cast<unsigned>(p[1]) << 8) | (static_cast<unsigned>(p[2]) << 16) |
         (static_cast<unsigned>(p[3]) << 24);
}

// Standard NMEA message ids of class F0.
const char* NmeaIdName(std::uint8_t id) {
  switch (id) {
    case 0x00:
      return "GGA";
    case 0x01:
      return "GLL";
    case 0x02:
      return "GSA";
    case 0x03:
      return "GSV";
    case 0x04:
      return "RMC";
    case 0x05:
      return "VTG";
    case 0x08:
      return "ZDA";
    default:
      return nullptr;
  }
}

std::string Describe(std::uint8_t cls, std::uint8_t id, std::size_t length) {
  return Format("UBX %02X-%02X, %zu bytes of payload", cls, id, length);
}

std::vector<std::string> SplitFields(const std::string& body) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = body.find(',', start);
    fields.push_back(
        body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::vector<std::uint8_t>& payload) {
  std::string frame;
  frame.push_back(static_cast<char>(kSync1));
  frame.push_back(static_cast<char>(kSync2));
  std::vector<std::uint8_t> body{cls, id, static_cast<std::uint8_t>(payload.size() & 0xFF),
                                 static_cast<std::uint8_t>(payload.size() >> 8)};
  body.insert(body.end(), payload.begin(), payload.end());
  std::uint8_t a = 0, b = 0;
  for (std::uint8_t c : body) {
    a = static_cast<std::uint8_t>(a + c);
    b = static_cast<std::uint8_t>(b + a);
  }
  frame.append(body.begin(), body.end());
  frame.push_back(static_cast<char>(a));
  frame.push_back(static_cast<char>(b));
  return frame;
}

std::vector<ReceiverCommand> ReceiverInputParser::Feed(const char* data, std::size_t size) {
  std::vector<ReceiverCommand> out;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<std::uint8_t>(data[i]);
    switch (state_) {
      case State::Hunt:
        if (byte == kSync1)
          state_ = State::UbxSync2;
        else if (byte == '$') {
          sentence_ = "$";
          state_ = State::Nmea;
        }
        break;
      case State::UbxSync2:
        if (byte == kSync2) {
          frame_.clear();
          state_ = State::UbxHeader;
        } else if (byte == '$') {
          sentence_ = "$";
          state_ = State::Nmea;
        } else if (byte != kSync1) {
          state_ = State::Hunt;
        }
        break;
      case State::UbxHeader:
        frame_.push_back(byte);
        if (frame_.size() == kUbxHeader) {
          const std::size_t length = U16(&frame_[2]);
          if (length > kMaxUbxPayload) {
            state_ = State::Hunt;
          } else {
            ubxExpected_ = kUbxHeader + length + 2;
            state_ = State::UbxBody;
          }
        }
        break;
      case State::UbxBody:
        frame_.push_back(byte);
        if (frame_.size() == ubxExpected_) {
          FinishUbx(out);
          state_ = State::Hunt;
        }
        break;
      case State::Nmea:
        if (byte == '\n') {
          FinishNmea(out);
          state_ = State::Hunt;
        } else if (byte == '$') {
          sentence_ = "$";  // the previous sentence was cut short
        } else if (byte == kSync1) {
          state_ = State::UbxSync2;
        } else if (sentence_.size() >= kMaxSentence) {
          state_ = State::Hunt;
        } else if (byte != '\r') {
          sentence_.push_back(static_cast<char>(byte));
        }
        break;
    }
  }
  return out;
}

void ReceiverInputParser::FinishUbx(std::vector<ReceiverCommand>& out) {
  const std::size_t length = frame_.size() - kUbxHeader - 2;
  std::uint8_t a = 0, b = 0;
  for (std::size_t k = 0; k < kUbxHeader + length; ++k) {
    a = static_cast<std::uint8_t>(a + frame_[k]);
    b = static_cast<std::uint8_t>(b + a);
  }
  ReceiverCommand c;
  c.ubxClass = frame_[0];
  c.ubxId = frame_[1];
  c.text = Describe(c.ubxClass, c.ubxId, length);
  if (a != frame_[kUbxHeader + length] || b != frame_[kUbxHeader + length + 1]) {
    c.kind = ReceiverCommand::Kind::BadChecksum;
    out.push_back(c);
    return;
  }
  const std::uint8_t* p = frame_.data() + kUbxHeader;
  c.kind = ReceiverCommand::Kind::OtherUbx;
  if (c.ubxClass != kClassCfg) {
    out.push_back(c);
    return;
  }
  c.wantsAck = true;
  if (c.ubxId == kIdCfgRst && length == 4) {
    // navBbrMask (U2), resetMode (U1), reserved. No acknowledgement: the
    // receiver restarts.
    c.wantsAck = false;
    const unsigned mask = U16(p);
    const unsigned mode = p[2];
    if (mode == 0x08) {
      c.kind = ReceiverCommand::Kind::StopGnss;
    } else if (mode == 0x09) {
      c.kind = ReceiverCommand::Kind::StartGnss;
    } else {
      c.kind = ReceiverCommand::Kind::Reset;
      c.reset = mask == 0x0000   ? ResetKind::Hot
                : mask == 0x0001 ? ResetKind::Warm
                                 : ResetKind::Cold;
    }
  } else if (c.ubxId == kIdCfgCfg && (length == 12 || length == 13)) {
    // clearMask, saveMask, loadMask (X4 each) [, deviceMask]
    if (U32(p + 8) != 0) c.kind = ReceiverCommand::Kind::RestoreDefaults;
  } else if (c.ubxId == kIdCfgMsg && (length == 3 || length == 8) && p[0] == kClassNmea) {
    // msgClass, msgId, rate (one port) or six rates, the second for UART1
    if (const char* name = NmeaIdName(p[1])) {
      c.kind = ReceiverCommand::Kind::SentenceRate;
      c.sentence = name;
      c.rate = length == 3 ? p[2] : p[3];
    }
  } else if (c.ubxId == kIdCfgGnss && length >= 4 && length == 4u + 8u * p[3]) {
    // msgVer, numTrkChHw, numTrkChUse, numConfigBlocks, then blocks of
    // gnssId, resTrkCh, maxTrkCh, reserved, flags (X4, bit 0 enable)
    c.kind = ReceiverCommand::Kind::EnableSystems;
    for (unsigned k = 0; k < p[3]; ++k) {
      const std::uint8_t* block = p + 4 + 8 * k;
      const auto system = SystemOfUbxGnssId(block[0]);
      if (!system) continue;
      const unsigned bit = Row(*system).receiverBit;
      c.systemsNamed |= bit;
      if (U32(block + 4) & 1u) c.systemMask |= bit;
    }
  }
  out.push_back(c);
}

void ReceiverInputParser::FinishNmea(std::vector<ReceiverCommand>& out) {
  ReceiverCommand c;
  c.text = sentence_;
  std::string body = sentence_.substr(1);
  const std::size_t star = body.rfind('*');
  if (star != std::string::npos) {
    const std::string given = body.substr(star + 1);
    body.resize(star);
    unsigned sum = 0;
    for (unsigned char ch : body) sum ^= ch;
    if (given.size() != 2 || HexDigit(given[0]) < 0 || HexDigit(given[1]) < 0 ||
        static_cast<unsigned>(HexDigit(given[0]) * 16 + HexDigit(given[1])) != (sum & 0xFF)) {
      c.kind = ReceiverCommand::Kind::BadChecksum;
      out.push_back(c);
      return;
    }
  }
  const std::vector<std::string> f = SplitFields(body);
  c.kind = ReceiverCommand::Kind::OtherNmea;
  if (f[0] == "PORST" && f.size() >= 2 && f[1] == "F") {
    c.kind = ReceiverCommand::Kind::Reset;
    c.reset = ResetKind::Cold;
  } else if (f[0] == "PORZB" && f.size() >= 3) {
    // $PORZB,<sentence>,<rate>[,<sentence>,<rate>...]
    for (std::size_t k = 1; k + 1 < f.size(); k += 2) {
      ReceiverCommand r = c;
      r.kind = ReceiverCommand::Kind::SentenceRate;
      r.sentence = f[k];
      r.rate = std::atoi(f[k + 1].c_str());
      out.push_back(r);
    }
    return;
  }
  out.push_back(c);
}

}  // namespace emu
