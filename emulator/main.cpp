// qarn-emu: the emulated lab. A QARN simulator double on a TCP SCPI port,
// plus the modules that register themselves (EmuModule.h).
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <cstdio>

#include "EmuModule.h"
#include "ScpiInstrument.h"
#include "ScpiServer.h"
#include "SimulatorModel.h"

namespace {

// GNSS_TIME_SCALE read as the station reads it: values <= 0 or unreadable
// count as 1.
double TimeScaleFromEnvironment() {
  bool ok = false;
  const double value = qEnvironmentVariable("GNSS_TIME_SCALE").toDouble(&ok);
  return ok && value > 0.0 ? value : 1.0;
}

// SIGINT and SIGTERM end the event loop normally, so that modules clean up
// (links, pseudo-terminals) in their destructors.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
}

void QuitOnSignals(QCoreApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
    char byte;
    [[maybe_unused]] const ssize_t n = read(signalPipe[0], &byte, 1);
    app.quit();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("qarn-emu");
  // Numbers on the wire are written in the C locale whatever the user's.
  std::setlocale(LC_NUMERIC, "C");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The emulated lab: a QARN GNSS simulator double speaking SCPI over TCP.");
  parser.addHelpOption();
  const QCommandLineOption portOption(
      "port", "TCP port of the SCPI server (0 picks a free one; default 5025).", "port", "5025");
  const QCommandLineOption logOption("log", "Print every message received and sent.");
  const QCommandLineOption storageOption(
      "storage", "Folder that stands for the instrument's file system (waypoint files).", "dir",
      "qarn-storage");
  parser.addOption(portOption);
  parser.addOption(storageOption);
  parser.addOption(logOption);

  auto modules = emu::CreateEmuModules();
  for (auto& module : modules) module->AddOptions(parser);
  parser.process(app);

  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    std::fprintf(stderr, "qarn-emu: invalid --port '%s'\n", qPrintable(parser.value(portOption)));
    return 1;
  }
  const bool log = parser.isSet(logOption);

  emu::SimulatorModel model(TimeScaleFromEnvironment());
  emu::ScpiInstrument instrument(model);
  emu::RegisterCommonCommands(instrument);
  emu::RegisterSimulatorCommands(instrument, parser.value(storageOption).toStdString());
  for (auto& module : modules) module->RegisterCommands(instrument);

  emu::EmuContext context{model, instrument, parser, log};
  int exitCode = 0;
  {
    emu::ScpiServer server(instrument, log);
    QString error;
    for (auto& module : modules) {
      if (!module->Start(context, &error)) {
        std::fprintf(stderr, "qarn-emu: %s: %s\n", module->Name(), qPrintable(error));
        modules.clear();
        return 1;
      }
    }
    if (!server.Listen(static_cast<quint16>(port), &error)) {
      std::fprintf(stderr, "qarn-emu: %s\n", qPrintable(error));
      modules.clear();
      return 1;
    }
    // Tests and scripts read the port from this line.
    std::printf("qarn-emu: SCPI server listening on port %u\n",
                static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    QuitOnSignals(app);
    exitCode = app.exec();
  }
  modules.clear();  // before the model they refer to
  return exitCode;
}
