// qarn-emu: the emulated lab. A QARN simulator double on a TCP SCPI port and
// a VXI-11 core channel, plus the modules that register themselves
// (EmuModule.h).
#include <sys/prctl.h>
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
#include "Vxi11Server.h"

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
  const QCommandLineOption vxi11PortOption(
      "vxi11-port",
      "TCP port of the VXI-11 core channel (0 picks a free one; default 0). Reached as "
      "TCPIP::host:port::INSTR by the station.",
      "port", "0");
  const QCommandLineOption vxi11RegisterOption(
      "vxi11",
      "Register the VXI-11 core channel with the machine's rpcbind, so that any VISA client "
      "finds it as TCPIP::host::INSTR. rpcbind maps one such port per machine: give this to one "
      "emulator at a time.");
  const QCommandLineOption noVxi11Option("no-vxi11", "Serve no VXI-11 core channel.");
  parser.addOption(portOption);
  parser.addOption(storageOption);
  parser.addOption(logOption);
  parser.addOption(vxi11PortOption);
  parser.addOption(vxi11RegisterOption);
  parser.addOption(noVxi11Option);
  const QCommandLineOption exitWithParentOption(
      "exit-with-parent",
      "End when the process that started this one ends (for test harnesses: a test that dies "
      "must not leave its lab running).");
  parser.addOption(exitWithParentOption);

  auto modules = emu::CreateEmuModules();
  for (auto& module : modules) module->AddOptions(parser);
  parser.process(app);
  if (parser.isSet(exitWithParentOption)) {
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) return 1;  // the parent ended before the request took hold
  }

  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    std::fprintf(stderr, "qarn-emu: invalid --port '%s'\n", qPrintable(parser.value(portOption)));
    return 1;
  }
  const bool log = parser.isSet(logOption);
  const uint vxi11Port = parser.value(vxi11PortOption).toUInt(&portOk);
  if (!portOk || vxi11Port > 65535) {
    std::fprintf(stderr, "qarn-emu: invalid --vxi11-port '%s'\n",
                 qPrintable(parser.value(vxi11PortOption)));
    return 1;
  }
  const bool vxi11 = !parser.isSet(noVxi11Option);

  emu::SimulatorModel model(TimeScaleFromEnvironment());
  emu::ScpiInstrument instrument(model);
  emu::RegisterCommonCommands(instrument);
  emu::RegisterSimulatorCommands(instrument, parser.value(storageOption).toStdString());
  for (auto& module : modules) module->RegisterCommands(instrument);

  emu::EmuContext context{model, instrument, parser, log};
  int exitCode = 0;
  {
    emu::ScpiServer server(instrument, log);
    emu::Vxi11Server vxi11Server(instrument, log);
    // An arranged "drop every connection" reaches both kinds of session.
    vxi11Server.SetDropAllHandler([&server, &vxi11Server] {
      server.CloseAllConnections();
      vxi11Server.CloseAllConnections();
    });
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
    if (vxi11) {
      if (!vxi11Server.Listen(static_cast<quint16>(vxi11Port), &error)) {
        std::fprintf(stderr, "qarn-emu: %s\n", qPrintable(error));
        modules.clear();
        return 1;
      }
      std::printf("qarn-emu: VXI-11 core channel on port %u (TCPIP::127.0.0.1:%u::INSTR)\n",
                  static_cast<unsigned>(vxi11Server.Port()),
                  static_cast<unsigned>(vxi11Server.Port()));
      if (parser.isSet(vxi11RegisterOption)) {
        if (vxi11Server.Register(&error)) {
          std::printf("qarn-emu: VXI-11 registered with rpcbind (TCPIP::127.0.0.1::INSTR)\n");
        } else {
          // The SCPI port and the explicit VXI-11 port still serve.
          std::fprintf(stderr,
                       "qarn-emu: VXI-11 not registered: %s; TCPIP::host::INSTR will not find "
                       "this lab (start rpcbind, as root: rpcbind -w)\n",
                       qPrintable(error));
        }
      }
      std::fflush(stdout);
    }
    QuitOnSignals(app);
    exitCode = app.exec();
  }
  modules.clear();  // before the model they refer to
  return exitCode;
}
