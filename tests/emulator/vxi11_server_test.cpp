// qarn-emu's VXI-11 core channel at the RPC level, through libtirpc as any
// client would call it: every procedure of DEVICE_CORE answered as an
// instrument answers, the abort channel, and what a server says to calls it
// does not serve.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vxi11/vxi11.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "support/EmulatorProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

int Vxi11Port(EmulatorProcess& emulator) {
  static const std::regex kLine("VXI-11 core channel on port (\\d+)");
  for (int i = 0; i < 50; ++i) {
    std::smatch match;
    const std::string text = emulator.Transcript();
    if (std::regex_search(text, match, kLine)) return std::stoi(match[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

template <typename F>
xdrproc_t Codec(F function) {
  return reinterpret_cast<xdrproc_t>(function);
}

// An RPC client of one program on its own TCP connection to the emulator.
class Client {
 public:
  Client(int port, u_long program, u_long version = 1) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = RPC_ANYSOCK;
    client_ = clnttcp_create(&address, program, version, &fd, 0, 0);
  }
  ~Client() {
    if (client_) clnt_destroy(client_);
  }
  bool Ok() const { return client_ != nullptr; }

  template <typename Args, typename Result>
  clnt_stat Call(u_long procedure, xdrproc_t encode, Args& args, xdrproc_t decode, Result* result,
                 int waitMs = 5000) {
    const timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
    return clnt_call(client_, procedure, encode, reinterpret_cast<char*>(&args), decode,
                     reinterpret_cast<char*>(result), wait);
  }

  long CreateLink(const char* device, Create_LinkResp* reply) {
    Create_LinkParms p{};
    p.device = const_cast<char*>(device);
    *reply = {};
    EXPECT_EQ(Call(create_link, Codec(xdr_Create_LinkParms), p, Codec(xdr_Create_LinkResp), reply),
              RPC_SUCCESS);
    return reply->lid;
  }
  Device_WriteResp Write(long lid, std::string text, bool end = true) {
    Device_WriteParms p{};
    p.lid = lid;
    p.io_timeout = 1000;
    p.flags = end ? DEVICE_FLAG_END : 0;
    p.data.data_len = static_cast<u_int>(text.size());
    p.data.data_val = text.data();
    Device_WriteResp reply{};
    EXPECT_EQ(
        Call(device_write, Codec(xdr_Device_WriteParms), p, Codec(xdr_Device_WriteResp), &reply),
        RPC_SUCCESS);
    return reply;
  }
  // Returns the data; the error and reason in the out parameters.
  std::string Read(long lid, u_long requestSize, u_long ioTimeout, long* error, long* reason,
                   char termChar = 0) {
    Device_ReadParms p{};
    p.lid = lid;
    p.requestSize = requestSize;
    p.io_timeout = ioTimeout;
    p.flags = termChar ? DEVICE_FLAG_TERMCHRSET : 0;
    p.termChar = termChar;
    Device_ReadResp reply{};
    const clnt_stat status = Call(device_read, Codec(xdr_Device_ReadParms), p,
                                  Codec(xdr_Device_ReadResp), &reply, 10000);
    EXPECT_EQ(status, RPC_SUCCESS);
    std::string data(reply.data.data_val ? reply.data.data_val : "", reply.data.data_len);
    *error = reply.error;
    *reason = reply.reason;
    clnt_freeres(client_, Codec(xdr_Device_ReadResp), reinterpret_cast<char*>(&reply));
    return data;
  }
  long Generic(u_long procedure, long lid, Device_ReadStbResp* stb = nullptr) {
    Device_GenericParms p{};
    p.lid = lid;
    p.io_timeout = 1000;
    if (stb) {
      EXPECT_EQ(
          Call(procedure, Codec(xdr_Device_GenericParms), p, Codec(xdr_Device_ReadStbResp), stb),
          RPC_SUCCESS);
      return stb->error;
    }
    Device_Error reply{};
    EXPECT_EQ(Call(procedure, Codec(xdr_Device_GenericParms), p, Codec(xdr_Device_Error), &reply),
              RPC_SUCCESS);
    return reply.error;
  }
  long OnLink(u_long procedure, long lid) {
    Device_Link link = lid;
    Device_Error reply{};
    EXPECT_EQ(Call(procedure, Codec(xdr_Device_Link), link, Codec(xdr_Device_Error), &reply),
              RPC_SUCCESS);
    return reply.error;
  }

 private:
  CLIENT* client_ = nullptr;
};

class Vxi11CoreChannel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = new EmulatorProcess(QARN_EMU_PATH);
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
    port_ = Vxi11Port(*emulator_);
    ASSERT_GT(port_, 0) << emulator_->Transcript();
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  static EmulatorProcess* emulator_;
  static int port_;
};

EmulatorProcess* Vxi11CoreChannel::emulator_ = nullptr;
int Vxi11CoreChannel::port_ = 0;

TEST_F(Vxi11CoreChannel, CoreProceduresAnswerAsAnInstrument) {
  Client core(port_, DEVICE_CORE);
  ASSERT_TRUE(core.Ok());
  Create_LinkResp link;
  const long lid = core.CreateLink("inst0", &link);
  EXPECT_EQ(link.error, 0);
  EXPECT_EQ(link.abortPort, port_) << "the abort channel is on the same port";
  EXPECT_GE(link.maxRecvSize, 1024u);
  long error = -1;
  long reason = -1;

  // A message in two writes ends with the END of the second.
  EXPECT_EQ(core.Write(lid, "SOUR:BB:GPS:SAT:", false).error, 0);
  const Device_WriteResp written = core.Write(lid, "COUNT 5;COUNT?");
  EXPECT_EQ(written.error, 0);
  EXPECT_EQ(written.size, 14u);
  Device_ReadStbResp stb{};
  EXPECT_EQ(core.Generic(device_readstb, lid, &stb), 0);
  EXPECT_EQ(stb.stb & 0x10, 0x10) << "MAV: an answer waits";
  EXPECT_EQ(core.Read(lid, 100, 1000, &error, &reason), "5\n");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(reason, DEVICE_REASON_END);

  // The count and the terminating character end a read before END.
  core.Write(lid, "*IDN?");
  EXPECT_EQ(core.Read(lid, 8, 1000, &error, &reason), "Emulated");
  EXPECT_EQ(reason, DEVICE_REASON_REQCNT);
  EXPECT_EQ(core.Read(lid, 100, 1000, &error, &reason, ','), " Lab,");
  EXPECT_EQ(reason, DEVICE_REASON_CHR);
  EXPECT_EQ(core.Read(lid, 100, 1000, &error, &reason), "QARN,100001,qarn-emu 1.0\n");
  EXPECT_EQ(reason, DEVICE_REASON_END);

  // Nothing to read: an immediate time-out with io_timeout 0.
  EXPECT_EQ(core.Read(lid, 100, 0, &error, &reason), "");
  EXPECT_EQ(error, DEVICE_ERR_IO_TIMEOUT);

  // Device clear drops an unread answer.
  core.Write(lid, "*IDN?");
  EXPECT_EQ(core.Generic(device_clear, lid), 0);
  EXPECT_EQ(core.Generic(device_readstb, lid, &stb), 0);
  EXPECT_EQ(stb.stb & 0x10, 0);
  EXPECT_EQ(core.Read(lid, 100, 0, &error, &reason), "");
  EXPECT_EQ(error, DEVICE_ERR_IO_TIMEOUT);

  for (u_long procedure : {device_trigger, device_remote, device_local})
    EXPECT_EQ(core.Generic(procedure, lid), 0) << procedure;
  Device_LockParms lock{lid, 0, 0};
  Device_Error locked{};
  EXPECT_EQ(
      core.Call(device_lock, Codec(xdr_Device_LockParms), lock, Codec(xdr_Device_Error), &locked),
      RPC_SUCCESS);
  EXPECT_EQ(locked.error, 0);
  EXPECT_EQ(core.OnLink(device_unlock, lid), 0);
  Device_DocmdParms command{};
  command.lid = lid;
  Device_DocmdResp commandReply{};
  EXPECT_EQ(core.Call(device_docmd, Codec(xdr_Device_DocmdParms), command,
                      Codec(xdr_Device_DocmdResp), &commandReply),
            RPC_SUCCESS);
  EXPECT_EQ(commandReply.error, DEVICE_ERR_NOT_SUPPORTED);

  EXPECT_EQ(core.OnLink(destroy_link, lid), 0);
  EXPECT_EQ(core.OnLink(destroy_link, lid), DEVICE_ERR_INVALID_LINK);
  EXPECT_EQ(core.Write(lid, "*IDN?").error, DEVICE_ERR_INVALID_LINK);
}

TEST_F(Vxi11CoreChannel, LinksAreRefusedForOtherDevicesAndKeptToTheirChannel) {
  Client core(port_, DEVICE_CORE);
  Client other(port_, DEVICE_CORE);
  Create_LinkResp link;
  core.CreateLink("gpib0,5", &link);
  EXPECT_EQ(link.error, DEVICE_ERR_NOT_ACCESSIBLE);
  const long lid = core.CreateLink("INST0", &link);
  EXPECT_EQ(link.error, 0);
  EXPECT_EQ(other.Write(lid, "*RST").error, DEVICE_ERR_INVALID_LINK)
      << "a link is used on the channel that made it";
  EXPECT_EQ(core.OnLink(destroy_link, lid), 0);
}

TEST_F(Vxi11CoreChannel, AbortEndsAWaitingRead) {
  Client core(port_, DEVICE_CORE);
  Create_LinkResp link;
  const long lid = core.CreateLink("inst0", &link);
  core.Write(lid, "EMUL:SIL ON;*IDN?");
  long error = -1;
  long reason = -1;
  const auto start = Clock::now();
  std::thread abort([port = port_, abortPort = link.abortPort, lid] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Client async(abortPort ? abortPort : port, DEVICE_ASYNC);
    Device_Link target = lid;
    Device_Error reply{};
    async.Call(device_abort, Codec(xdr_Device_Link), target, Codec(xdr_Device_Error), &reply);
  });
  EXPECT_EQ(core.Read(lid, 100, 8000, &error, &reason), "");
  abort.join();
  EXPECT_EQ(error, DEVICE_ERR_ABORT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the read did not wait 8 s";
  core.Write(lid, "EMUL:SIL OFF");
  core.Write(lid, "*OPC?");
  EXPECT_EQ(core.Read(lid, 100, 2000, &error, &reason), "1\n") << "the link goes on";
  core.OnLink(destroy_link, lid);
}

TEST_F(Vxi11CoreChannel, CallsItDoesNotServeAreAnsweredSo) {
  Client unknownProgram(port_, 100003);
  Device_Link nothing = 0;
  Device_Error reply{};
  ASSERT_TRUE(unknownProgram.Ok());
  EXPECT_EQ(
      unknownProgram.Call(1, Codec(xdr_Device_Link), nothing, Codec(xdr_Device_Error), &reply),
      RPC_PROGUNAVAIL);
  Client newerVersion(port_, DEVICE_CORE, 2);
  EXPECT_EQ(newerVersion.Call(create_link, Codec(xdr_Device_Link), nothing, Codec(xdr_Device_Error),
                              &reply),
            RPC_PROGVERSMISMATCH);
  Client core(port_, DEVICE_CORE);
  EXPECT_EQ(core.Call(99, Codec(xdr_Device_Link), nothing, Codec(xdr_Device_Error), &reply),
            RPC_PROCUNAVAIL);
  EXPECT_EQ(core.Call(NULLPROC, Codec(xdr_void), nothing, Codec(xdr_void), &reply), RPC_SUCCESS);
}

}  // namespace
