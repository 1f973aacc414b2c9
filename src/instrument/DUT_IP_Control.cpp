#include "instrument/DUT_IP_Control.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/stdio.h"
#include "report/HtmlText.h"
#include "report/ProgressLog.h"
#include "text/CText.h"

ViSession SimulatorSession = VI_NULL;
ViSession ResourceManagerSession = VI_NULL;

const char* const stropc = "*opc?";
char readbuff[kReadBuffMax + 1];
ViUInt32 numread = 0;
ViUInt32 numwritten = 0;

namespace {

// "*opc?" goes out as its five bytes, without LF.
constexpr ViUInt32 kOpcQueryLength = 5;

// A session whose connection is gone fails every later call at once, and
// the station's own messages show no more than empty answers: the reason is
// said once per session on stderr.
void ReportLostConnection(ViSession session, ViStatus status) {
  static ViSession reported = VI_NULL;
  if (status != VI_ERROR_CONN_LOST || session == reported) return;
  reported = session;
  char description[256] = "";
  viStatusDesc(session, status, description);
  StdErrReason(std::string("the simulator's connection is lost: ") + description);
}

// Sends `text` + LF as one message, byte for byte ("%" has no meaning here).
void SendLine(ViSession session, const char* text) {
  std::string line(text ? text : "");
  line += '\n';
  ViUInt32 written = 0;
  ReportLostConnection(session, viWrite(session, reinterpret_cast<const ViByte*>(line.data()),
                                        static_cast<ViUInt32>(line.size()), &written));
}

// Reads at most `limit` bytes into `buffer` (limit + 1 bytes) and terminates it.
void ReadAnswer(ViSession session, char* buffer, ViUInt32 limit) {
  ViUInt32 count = 0;
  ReportLostConnection(session, viRead(session, reinterpret_cast<ViByte*>(buffer), limit, &count));
  if (count > limit) count = limit;
  numread = count;
  buffer[count] = '\0';
}

}  // namespace

char* GetString(const char* format, ...) {
  // Arguments may point into GetStringBuffer: the whole text is formatted
  // before any of it is copied there.
  va_list args;
  va_start(args, format);
  const std::string text = VFormatC(format, args);
  va_end(args);
  const std::size_t kept = std::min<std::size_t>(text.size(), kGetStringBufferSize - 1);
  std::memcpy(GetStringBuffer, text.data(), kept);
  GetStringBuffer[kept] = '\0';
  return GetStringBuffer;
}

int Dut_Command(ViSession session, const char* command) {
  SendLine(session, command);  // copies the command before anything reuses its buffer
  viWrite(session, reinterpret_cast<const ViByte*>(stropc), kOpcQueryLength, &numwritten);
  ReadAnswer(session, readbuff, kReadBuffMax);
  return 1;
}

int My_Query(ViSession session, const char* query, char* answer) {
  SendLine(session, query);
  ReadAnswer(session, answer, kQueryAnswerMax);
  return 1;
}

int My_QueryInt(ViSession session, const char* query, int* value) {
  SendLine(session, query);
  ReadAnswer(session, readbuff, kReadBuffMax);
  *value = ParseLeadingInt(readbuff);
  return 1;
}

int My_QueryDouble(ViSession session, const char* query, double* value) {
  SendLine(session, query);
  ReadAnswer(session, readbuff, kReadBuffMax);
  *value = ParseLeadingDouble(readbuff);
  return 1;
}

void CheckSimulatorErrors(ViSession session, std::FILE* htmlLog) {
  static const char* const kErrorQuery = "SYST:ERR?;*opc?";
  char answer[kQueryAnswerSize];
  My_Query(session, kErrorQuery, answer);
  int entries = 1;
  while (std::strstr(answer, "No error") == nullptr) {
    const std::string line = std::string("DUT INFO ERR:") + answer + "\n";
    // The entry is the instrument's text: it goes into the HTML log as text.
    LogProgressHtml(line.c_str(), GetColorHtml("red", EscapeHtmlText(line).c_str()), htmlLog);
    // Silence would otherwise be asked again after every time-out, forever.
    if (answer[0] == '\0') break;
    // So would an instrument that never reports an empty queue.
    if (entries == kErrorQueueReadLimit) {
      const char* const warning = GetString(
          "DUT INFO ERR: error queue not empty after %d entries; not read further\n", entries);
      const std::string text(warning);
      LogProgressHtml(text.c_str(), GetColorHtml("orange", text.c_str()), htmlLog);
      break;
    }
    My_Query(session, kErrorQuery, answer);
    ++entries;
  }
}

int ParseLeadingInt(const char* text) { return text ? ReadIntC(text) : 0; }

double ParseLeadingDouble(const char* text) { return text ? ReadDoubleC(text) : 0.0; }
