// IEEE 488.2 common commands, the error queue and the lab's EMULator: fault
// commands, as table rows.
//
// Faults a test arranges over the SCPI port (they survive *RST; EMUL:RES
// clears them all, those of the other modules included):
//   EMULator:SILent ON|OFF            withhold every answer but EMULator: ones
//   EMULator:OPC:DELay <ms>           answer *OPC? that many real ms later
//   EMULator:ERRor[:ADD] <n>[,"text"] put an entry in the error queue
//   EMULator:ANSWer:MODE NORMal|GARBage|NOLF|EXTRa
//                                     answers as they should be, replaced by
//                                     garbage, without LF, or sent twice
//   EMULator:CONNection:DROP          close every connection after this message
//   EMULator:CONNection:DROP:AFTer <n> the n-th later message closes its connection
//   EMULator:RESet                    clear every arranged fault
//   EMULator:TIME:SCALe?              the GNSS_TIME_SCALE in force
#include <limits>

#include "ScpiInstrument.h"
#include "SimulatorModel.h"
#include "TextFormat.h"

namespace emu {

namespace {

constexpr const char* kIdentification = "Emulated Lab,QARN,100001,qarn-emu 1.0";

}  // namespace

void RegisterCommonCommands(ScpiInstrument& instrument) {
  ScpiCommandTable& t = instrument.Commands();

  t.Add("*IDN?", [](ScpiCall& c) { c.Reply(kIdentification); });
  t.Add("*RST", [](ScpiCall& c) { c.Instrument().Model().Reset(); });
  t.Add("*CLS", [](ScpiCall& c) { c.Instrument().Errors().Clear(); });
  // Every command is complete when it returns; the lab may hold the answer.
  t.Add("*OPC?", [](ScpiCall& c) {
    c.Reply("1");
    c.DelayAnswer(c.Instrument().Faults().opcDelayMs);
  });
  t.Add("*OPC", [](ScpiCall&) {});
  t.Add("*WAI", [](ScpiCall&) {});
  t.Add("*ESR?", [](ScpiCall& c) { c.Reply("0"); });
  t.Add("*STB?", [](ScpiCall& c) { c.Reply(c.Instrument().Errors().Size() > 0 ? "4" : "0"); });
  t.Add("*TST?", [](ScpiCall& c) { c.Reply("0"); });
  t.Add("SYSTem:ERRor[:NEXT]?",
        [](ScpiCall& c) { c.Reply(c.Instrument().Errors().PopFormatted()); });
  t.Add("SYSTem:ERRor:COUNt?",
        [](ScpiCall& c) { c.Reply(std::to_string(c.Instrument().Errors().Size())); });
  t.Add("SYSTem:ERRor:ALL?", [](ScpiCall& c) {
    std::string all = c.Instrument().Errors().PopFormatted();
    while (c.Instrument().Errors().Size() > 0) all += "," + c.Instrument().Errors().PopFormatted();
    c.Reply(all);
  });

  // ---- faults arranged by the tests ----
  t.Add("EMULator:RESet", [](ScpiCall& c) { c.Instrument().ResetLab(); });
  t.Add("EMULator:SILent", [](ScpiCall& c) {
    if (auto on = c.Boolean(0)) c.Instrument().Faults().silent = *on;
  });
  t.Add("EMULator:SILent?",
        [](ScpiCall& c) { c.Reply(c.Instrument().Faults().silent ? "1" : "0"); });
  // Milliseconds of real time by which every *OPC? answer is held back.
  t.Add("EMULator:OPC:DELay", [](ScpiCall& c) {
    auto ms = c.IntegerIn(0, 0, 600000);
    if (ms) c.Instrument().Faults().opcDelayMs = static_cast<int>(*ms);
  });
  t.Add("EMULator:OPC:DELay?",
        [](ScpiCall& c) { c.Reply(std::to_string(c.Instrument().Faults().opcDelayMs)); });
  // EMUL:ERR:ADD <code>,"<text>": one entry in the error queue.
  t.Add("EMULator:ERRor[:ADD]", [](ScpiCall& c) {
    auto code = c.Integer(0);
    if (!code) return;
    std::string text = "Emulated error";
    if (c.ParamCount() > 1) {
      auto given = c.Text(1);
      if (!given) return;
      text = *given;
    }
    c.Error(static_cast<int>(*code), text);
  });
  // Closes every connection after this message.
  t.Add("EMULator:CONNection:DROP", [](ScpiCall& c) { c.Instrument().Faults().dropAllNow = true; });
  // The n-th message received after this one (on any connection) is not
  // executed; its connection is closed instead.
  t.Add("EMULator:CONNection:DROP:AFTer", [](ScpiCall& c) {
    auto n = c.IntegerIn(0, 1, std::numeric_limits<long>::max());
    if (n) c.Instrument().Faults().dropAfterMessages = static_cast<int>(*n);
  });
  t.Add("EMULator:ANSWer:MODE", [](ScpiCall& c) {
    auto mode = c.Keyword(0);
    if (!mode) return;
    static const std::pair<const char*, AnswerFault> kModes[] = {
        {"NORM", AnswerFault::None},       {"NORMAL", AnswerFault::None},
        {"GARB", AnswerFault::Garbage},    {"GARBAGE", AnswerFault::Garbage},
        {"NOLF", AnswerFault::NoLineFeed}, {"EXTR", AnswerFault::Extra},
        {"EXTRA", AnswerFault::Extra}};
    for (const auto& [name, fault] : kModes) {
      if (*mode == name) {
        c.Instrument().Faults().answerFault = fault;
        return;
      }
    }
    c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
  });
  t.Add("EMULator:TIME:SCALe?",
        [](ScpiCall& c) { c.Reply(Format("%.15g", c.Instrument().Model().TimeScale())); });
}

std::string Printable(const char* data, std::size_t size) {
  std::string shown;
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      shown += Format("\\x%02X", c);
    }
  }
  return shown;
}

}  // namespace emu
