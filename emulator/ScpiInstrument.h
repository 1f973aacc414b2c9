// The SCPI side of the emulated lab: a table of command patterns and their
// handlers, the error queue, the lab's fault switches, and the per-connection
// parser that runs one received message through the table.
//
// Patterns use the notation of instrument manuals:
//   "[SOURce]:BB:GPS|GALileo|GLONass:SATellite#:SVID?"
//   - upper-case letters are the short form, the whole word the long form;
//   - "[...]" marks an optional node; "A|B" alternatives (handler sees which
//     one matched through ScpiCall::Choice);
//   - "#" after a mnemonic takes an optional numeric suffix (default 1);
//   - a trailing "?" makes the entry a query. A header without "?" and the
//     same header with "?" are two entries.
// Matching is case-insensitive; any node may be written short or long.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

class SimulatorModel;
class ScpiInstrument;

// IEEE 488.2 / SCPI error numbers used by the double.
namespace scpi_error {
inline constexpr int kNone = 0;
inline constexpr int kCommandError = -100;
inline constexpr int kInvalidCharacter = -101;
inline constexpr int kSyntaxError = -102;
inline constexpr int kDataTypeError = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;
}  // namespace scpi_error

// One command as its handler sees it.
class ScpiCall {
 public:
  ScpiCall(ScpiInstrument& instrument, bool query, std::vector<int> suffixes,
           std::vector<std::string> choices, std::vector<std::string> params,
           std::string rawParams);

  ScpiInstrument& Instrument() { return instrument_; }
  bool IsQuery() const { return query_; }
  // Numeric suffix of the i-th node that takes one ("#"), 1 when absent.
  int Suffix(size_t i = 0) const;
  // Canonical (long-form, upper-case) text of the alternative the i-th "A|B"
  // node matched, e.g. "GALILEO".
  const std::string& Choice(size_t i = 0) const;
  size_t ParamCount() const { return params_.size(); }
  // Everything after the header, trimmed.
  const std::string& RawParams() const { return rawParams_; }

  // Parameter accessors. On a missing or malformed parameter they queue the
  // matching error (-109, -104, -224) and return nullopt; the handler then
  // just returns.
  std::optional<std::string> Text(size_t i);     // quotes removed
  std::optional<std::string> Keyword(size_t i);  // upper-cased
  std::optional<double> Number(size_t i);        // units: GHz, MHz, kHz, Hz, dBm, dB, s, ms
  std::optional<long> Integer(size_t i);
  std::optional<bool> Boolean(size_t i);  // ON, OFF, 1, 0
  // The same, then checked against [low, high] (both included): outside it
  // they queue -222 "Data out of range" and return nullopt.
  std::optional<double> NumberIn(size_t i, double low, double high);
  std::optional<long> IntegerIn(size_t i, long low, long high);
  // A value read apart: true when within [low, high], else -222 is queued.
  template <typename T>
  bool InRange(T value, T low, T high) {
    if (value >= low && value <= high) return true;
    OutOfRange();
    return false;
  }
  // Queues -222 "Data out of range", for values the handler checks itself.
  void OutOfRange();
  // Queues -108 and returns false when more than `count` parameters came.
  bool AtMost(size_t count);

  // The answer of a query (joined with the others of the message by ";").
  void Reply(std::string text);
  // Queues an error in the instrument's error queue.
  void Error(int code, std::string_view text);
  // The message's answer goes out this many milliseconds later.
  void DelayAnswer(int milliseconds);

  bool HasReply() const { return hasReply_; }
  const std::string& ReplyText() const { return reply_; }
  int AnswerDelayMs() const { return delayMs_; }

 private:
  // A value read, kept when it is within [low, high].
  template <typename T>
  std::optional<T> Within(std::optional<T> value, T low, T high);

  ScpiInstrument& instrument_;
  bool query_;
  std::vector<int> suffixes_;
  std::vector<std::string> choices_;
  std::vector<std::string> params_;
  std::string rawParams_;
  bool hasReply_ = false;
  std::string reply_;
  int delayMs_ = 0;
};

using ScpiHandler = std::function<void(ScpiCall&)>;

class ScpiCommandTable {
 public:
  ScpiCommandTable();
  ~ScpiCommandTable();
  ScpiCommandTable(const ScpiCommandTable&) = delete;
  ScpiCommandTable& operator=(const ScpiCommandTable&) = delete;

  // Adds one entry; an entry added later for the same header wins. Throws
  // std::invalid_argument on a malformed pattern (a programming error).
  void Add(std::string_view pattern, ScpiHandler handler);

  struct Match {
    const ScpiHandler* handler = nullptr;
    std::vector<int> suffixes;
    std::vector<std::string> choices;
  };
  // `nodes` are the header's mnemonics as received (with their suffix digits,
  // without colons and "?").
  std::optional<Match> Find(const std::vector<std::string>& nodes, bool query) const;

 private:
  struct Entry;
  std::vector<std::unique_ptr<Entry>> entries_;
};

// The error queue of IEEE 488.2: first in, first out; when full the last
// entry becomes -350 "Queue overflow".
class ErrorQueue {
 public:
  static constexpr size_t kCapacity = 32;
  void Push(int code, std::string_view text);
  // `0,"No error"` when empty.
  std::string PopFormatted();
  size_t Size() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

 private:
  std::deque<std::pair<int, std::string>> entries_;
};

// How the instrument spoils its answers (EMULator:ANSWer:MODE).
enum class AnswerFault {
  None,
  Garbage,     // bytes of no meaning (never LF) in place of the answer, then LF
  NoLineFeed,  // the answer without its LF
  Extra,       // the answer twice: more than was asked
};

// Faults the lab arranges through EMULator: commands.
struct LabFaults {
  AnswerFault answerFault = AnswerFault::None;
  bool silent = false;         // answers to everything but EMULator: queries are withheld
  int opcDelayMs = 0;          // *OPC? answers this much later (real milliseconds)
  int dropAfterMessages = -1;  // the n-th further message received drops its connection
  bool dropAllNow = false;     // set by a handler: every connection closes after this message
};

class ScpiInstrument {
 public:
  explicit ScpiInstrument(SimulatorModel& model);
  SimulatorModel& Model() { return model_; }
  ScpiCommandTable& Commands() { return commands_; }
  ErrorQueue& Errors() { return errors_; }
  LabFaults& Faults() { return faults_; }
  // Runs on EMULator:RESet (each module clears its own faults).
  void AddLabResetHook(std::function<void()> hook) { labResetHooks_.push_back(std::move(hook)); }
  void ResetLab();
  // Keeps an object that registered handlers refer to alive as long as the
  // instrument (and so its command table).
  void KeepAlive(std::shared_ptr<void> object) { keepAlive_.push_back(std::move(object)); }

 private:
  SimulatorModel& model_;
  ScpiCommandTable commands_;
  ErrorQueue errors_;
  LabFaults faults_;
  std::vector<std::function<void()>> labResetHooks_;
  std::vector<std::shared_ptr<void>> keepAlive_;
};

// One connection's parser: keeps the current header path between the
// commands of a message (a command without a leading ":" continues the path
// of the previous one).
class ScpiSession {
 public:
  explicit ScpiSession(ScpiInstrument& instrument) : instrument_(instrument) {}

  struct Outcome {
    bool hasAnswer = false;
    std::string answer;  // without the final LF
    int delayMs = 0;
    bool dropConnection = false;  // close this connection instead of answering
    bool dropAll = false;         // close every connection
    bool noLineFeed = false;      // send the answer without its LF
  };
  // Runs one message (without its LF; a trailing CR is ignored).
  Outcome Execute(std::string_view message);

 private:
  ScpiInstrument& instrument_;
  std::vector<std::string> path_;
};

// Registers the common commands (*IDN?, *RST, *OPC?, ...), SYSTem:ERRor and
// the EMULator: fault commands.
void RegisterCommonCommands(ScpiInstrument& instrument);
// Registers the simulator's own commands (frequency, level, baseband,
// satellites, location, time). Waypoint files named by the instrument's
// paths are read below `storageRoot`, the folder that stands for the
// instrument's file system.
void RegisterSimulatorCommands(ScpiInstrument& instrument,
                               const std::string& storageRoot = "qarn-storage");

// Bytes as a transcript shows them: printable ASCII as it is, every other
// byte as \xHH, so that one message stays one line.
std::string Printable(const char* data, std::size_t size);

}  // namespace emu
