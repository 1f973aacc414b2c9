// Parts of the emulated lab that join qarn-emu (the virtual receiver, the
// oscilloscope double, ...). Each registers itself from its own .cpp file with
// QARN_EMU_MODULE(ClassName); main never names them. Order of the calls:
//   AddOptions (all modules) -> options parsed -> RegisterCommands (all)
//   -> Start (all, sorted by Name) -> the SCPI server listens -> event loop.
// Everything runs on the one Qt event-loop thread.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace emu {

class SimulatorModel;
class ScpiInstrument;

struct EmuContext {
  SimulatorModel& model;
  ScpiInstrument& instrument;
  const QCommandLineParser& options;
  bool logTranscript;  // --log was given
};

class EmuModule {
 public:
  virtual ~EmuModule() = default;
  virtual const char* Name() const = 0;
  virtual void AddOptions(QCommandLineParser& /*parser*/) {}
  // Adds the module's SCPI commands (for instance EMULator:RECeiver:...).
  virtual void RegisterCommands(ScpiInstrument& /*instrument*/) {}
  // Starts the module; false with a message in `error` ends qarn-emu with
  // exit code 1.
  virtual bool Start(EmuContext& context, QString* error) = 0;
};

using EmuModuleFactory = std::function<std::unique_ptr<EmuModule>()>;

// Returns true so that it can initialise a static in the registering file.
bool RegisterEmuModule(EmuModuleFactory factory);
// One fresh instance of every registered module, sorted by Name.
std::vector<std::unique_ptr<EmuModule>> CreateEmuModules();

}  // namespace emu

// Use at namespace scope of the module's .cpp file, e.g.
// QARN_EMU_MODULE(emu::VirtualReceiverModule).
#define QARN_EMU_MODULE_CONCAT2(a, b) a##b
#define QARN_EMU_MODULE_CONCAT(a, b) QARN_EMU_MODULE_CONCAT2(a, b)
#define QARN_EMU_MODULE(ClassName)                                                             \
  namespace {                                                                                  \
  [[maybe_unused]] const bool QARN_EMU_MODULE_CONCAT(qarnEmuModuleRegistered,                  \
                                                     __LINE__) = ::emu::RegisterEmuModule([] { \
    return std::unique_ptr<::emu::EmuModule>(new ClassName());                                 \
  });                                                                                          \
  }
