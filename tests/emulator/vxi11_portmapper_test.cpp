// The VXI-11 core channel found through the machine's rpcbind, as an operator
// reaches a LAN instrument by its address alone: "TCPIP::127.0.0.1" and the
// station with MAIN_DUTIP "127.0.0.1". rpcbind maps one port per machine, so
// these tests run one at a time (CTest RESOURCE_LOCK) and start rpcbind when it
// is not running; they skip when it cannot be had.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vxi11/vxi11.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "launch/StationRun.h"
#include "platform/visa.h"
#include "support/EmulatorProcess.h"
#include "support/Loopback.h"

namespace {

using ::testing::HasSubstr;

const char* const kIdentification = "Emulated Lab,QARN,100001,qarn-emu 1.0\n";

bool RpcbindAnswers() { return LoopbackPortAnswers(111); }

// rpcbind running, started here (as root) when it is not; the reason otherwise.
bool EnsureRpcbind(std::string* why) {
  if (RpcbindAnswers()) return true;
  if (::geteuid() != 0 || !std::filesystem::exists("/usr/sbin/rpcbind")) {
    *why = "rpcbind is not running and cannot be started here (needs root and Debian's rpcbind)";
    return false;
  }
  // -w: warm start; rpcbind puts itself in the background.
  if (std::system("/usr/sbin/rpcbind -w") != 0) {
    *why = "rpcbind -w failed";
    return false;
  }
  for (int i = 0; i < 50 && !RpcbindAnswers(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!RpcbindAnswers()) *why = "rpcbind started but does not answer on 127.0.0.1:111";
  return RpcbindAnswers();
}

unsigned short MappedPort() {
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return pmap_getport(&loopback, DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP);
}

std::string Describe(ViObject object, ViStatus status) {
  char text[256];
  viStatusDesc(object, status, text);
  return text;
}

// Waits for a line of the emulator's output after its port line.
bool TranscriptShows(EmulatorProcess& emulator, const std::string& text) {
  for (int i = 0; i < 50; ++i) {
    if (emulator.Transcript().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string Identify(ViSession rm, const std::string& resource) {
  ViSession session = VI_NULL;
  const ViStatus status = viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &session);
  if (status != VI_SUCCESS) return "open failed: " + Describe(rm, status);
  viSetAttribute(session, VI_ATTR_TMO_VALUE, 5000);
  char text[1024] = "";
  viQueryf(session, "*IDN?", "%t", text);
  viClose(session);
  return text;
}

class Vxi11Portmapper : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!EnsureRpcbind(&why)) GTEST_SKIP() << why;
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
  }
  void TearDown() override { viClose(rm_); }

  ViSession rm_ = VI_NULL;
};

TEST_F(Vxi11Portmapper, AddressWithoutAVxi11ServerFailsAndSaysWhy) {
  // What an emulator killed before it could unregister leaves behind.
  if (MappedPort() != 0) pmap_unset(DEVICE_CORE, DEVICE_CORE_VERSION);
  ViSession session = VI_NULL;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(viOpen(rm_, "TCPIP::127.0.0.1", VI_NO_LOCK, 0, &session), VI_ERROR_RSRC_NFOUND);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_THAT(Describe(rm_, VI_ERROR_RSRC_NFOUND), HasSubstr("no VXI-11 server at 127.0.0.1"));
}

TEST_F(Vxi11Portmapper, RegisteredEmulatorAnswersTheBareAddressAndUnregistersAtExit) {
  {
    EmulatorProcess emulator(QARN_EMU_PATH, "0.05", {"--vxi11"});
    std::string error;
    ASSERT_TRUE(emulator.Start(&error)) << error;
    ASSERT_TRUE(TranscriptShows(emulator, "registered with rpcbind")) << emulator.Transcript();
    for (const char* resource :
         {"TCPIP::127.0.0.1", "TCPIP0::127.0.0.1::INSTR", "TCPIP::localhost::inst0::INSTR"}) {
      EXPECT_EQ(Identify(rm_, resource), kIdentification) << resource;
    }
  }
  EXPECT_EQ(MappedPort(), 0) << "the emulator takes its mapping with it";
}

TEST_F(Vxi11Portmapper, LaterEmulatorTakesTheMappingAndKeepsIt) {
  EmulatorProcess first(QARN_EMU_PATH, "0.05", {"--vxi11"});
  EmulatorProcess second(QARN_EMU_PATH, "0.05", {"--vxi11", "--log"});
  std::string error;
  ASSERT_TRUE(first.Start(&error)) << error;
  ASSERT_TRUE(TranscriptShows(first, "registered with rpcbind"));
  ASSERT_TRUE(second.Start(&error)) << error;
  ASSERT_TRUE(TranscriptShows(second, "registered with rpcbind"));
  first.Stop();
  EXPECT_NE(MappedPort(), 0) << "the first emulator leaves the second's mapping alone";
  EXPECT_EQ(Identify(rm_, "TCPIP::127.0.0.1::INSTR"), kIdentification);
  EXPECT_TRUE(TranscriptShows(second, "<- *IDN?")) << "the second emulator answered";
}

TEST_F(Vxi11Portmapper, StationRecordsTheIdentificationOfTheBareAddress) {
  EmulatorProcess emulator(QARN_EMU_PATH, "0.05", {"--vxi11"});
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  ASSERT_TRUE(TranscriptShows(emulator, "registered with rpcbind")) << emulator.Transcript();
  const auto workdir = FreshWorkdir("vxi11-003");
  const StationResult run = RunStation(workdir, {"set MAIN_DUTIP=127.0.0.1", "press MAIN_RUN003"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.out, HasSubstr("Carrier Phase: Connected to QARN..."));
  const auto dirs = RunLogDirectories(workdir);
  ASSERT_EQ(dirs.size(), 1u) << run.out;
  std::ifstream file(workdir / "LOG" / dirs[0] / "Firmware_Version.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), kIdentification);
  std::filesystem::remove_all(workdir);
}

}  // namespace
