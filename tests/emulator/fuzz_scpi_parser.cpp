// Fuzzes qarn-emu's SCPI side with whatever a client may send: the input is
// cut into messages at LF as the server cuts its stream (messages over the
// server's 16 KiB cap are refused there and skipped here), and every message
// runs through one connection's parser against the full command table of
// the simulator double. An answer never holds a LF: it would frame as two.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "ScpiInstrument.h"
#include "SimulatorModel.h"

namespace {

constexpr std::size_t kServerMessageCap = 16 * 1024;

struct Lab {
  emu::SimulatorModel model{1.0};
  emu::ScpiInstrument instrument{model};
  Lab() {
    emu::RegisterCommonCommands(instrument);
    // No storage folder: route files are the route_file target's business.
    emu::RegisterSimulatorCommands(instrument, "/nonexistent/qarn-storage");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Lab* lab = new Lab();  // kept for the process: one instrument, as in qarn-emu
  emu::ScpiInstrument& instrument = lab->instrument;
  instrument.ResetLab();
  instrument.Errors().Clear();
  instrument.Model().Reset();

  emu::ScpiSession session(instrument);
  std::string_view stream(reinterpret_cast<const char*>(data), size);
  while (!stream.empty()) {
    const std::size_t lf = stream.find('\n');
    const std::string_view message = stream.substr(0, lf);
    stream.remove_prefix(lf == std::string_view::npos ? stream.size() : lf + 1);
    if (message.size() > kServerMessageCap) continue;
    const bool spoiling = instrument.Faults().answerFault != emu::AnswerFault::None;
    const emu::ScpiSession::Outcome outcome = session.Execute(message);
    if (outcome.hasAnswer && !spoiling && outcome.answer.find('\n') != std::string::npos)
      std::abort();
    if (instrument.Errors().Size() > emu::ErrorQueue::kCapacity) std::abort();
  }
  return 0;
}
