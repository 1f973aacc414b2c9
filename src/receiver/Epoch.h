// Cutting the receiver's NMEA stream into epochs (everything from one GGA
// sentence up to the next) and decoding an epoch into the fix records. No
// port, no clock, no output: the fix loops, `--decode-nmea`, the fuzz target
// and the benchmark all run exactly this code, and the loops turn the
// outcomes into their messages.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "receiver/Nmea.h"

// Received text kept by the fix loops. A read of up to kReadChunkMax bytes is
// appended only while at least kReadChunkMax + 2 bytes are free; from
// kReceiveBufferFullMark on the buffer is emptied first, so a read always fits.
inline constexpr int kReceiveBufferCapacity = 32500;
inline constexpr int kReadChunkMax = 6000;
inline constexpr int kReceiveBufferFullMark = kReceiveBufferCapacity - kReadChunkMax - 1;  // 26,499

// Message-seen flags of the GSV collection: twelve, cleared at the start of a
// call and again at every pass.
inline constexpr int kGsvSeenFlags = 12;
// A GSV group larger than this reports too many satellites to be believed;
// its epoch then counts none in view.
inline constexpr int kGsvInViewMax = 24;
inline constexpr int kGsvMessageNumberMax = 11;
// A satellite counts as used only from this C/N0 (dB-Hz) on.
inline constexpr int kUsedCn0Min = 20;
// Galileo satellites as the receivers number them, and the C/N0 spread among
// the used ones from which the receiver is hot-started.
inline constexpr int kGalileoPrnAbove = 203;
inline constexpr int kGalileoCn0SpreadLimit = 4;

struct ReceiveBuffer {
  char text[kReceiveBufferCapacity];
  int length = 0;
};

// The first position i in [0, length - strlen(pattern)] where `pattern` stands
// in data, or -1. Reads nothing at or beyond data + length; NULs in data are
// ordinary characters.
int FindInBuffer(const char* data, const char* pattern, int length);

// Per-call state of the epoch decoding.
struct EpochState {
  std::array<bool, kGsvSeenFlags> gsvSeen{};
  bool dateSeen = false;  // a ZDA or RMC sentence was decoded in this cycle
  int gsaCount = 0;       // used-satellite count of the latest GSA chain
  int inView = -1;        // entries filled by the GSV groups of the last epoch
};

enum class EpochOutcome {
  kDecoded,
  kMissingLineEnd,       // a sentence without CR LF: the rest of the epoch was skipped
  kGsvNumberOutOfRange,  // a GSV message number outside 1..11: the caller gives up
};

void ResetSatelliteTable(SatelliteTable& table);

// The start of a monitoring call: table reset, all flags clear, no GSA chain
// yet, in view -1.
void BeginEpochCall(EpochState& state, SatelliteTable& table);
// The start of every pass or cycle: table reset, flags and date marker
// clear, in view 0.
void BeginEpochPass(EpochState& state, SatelliteTable& table, FixStatus& status);

// Decodes the epoch data[start, end) in place. `end` is where the next GGA
// sentence's "$" stands (it is held as a terminator during the decode and put
// back); data[end, length) may hold more text, through which a sentence's line
// end is searched. Sets status.inViewCount and state.inView when the epoch
// has a GSV group.
EpochOutcome DecodeEpoch(char* data, int length, int start, int end, FixRecord& fix,
                         FixStatus& status, SatelliteTable& table, EpochState& state);

// Looking for an epoch in the buffered text.
enum class EpochSearch {
  kNoGga,       // no GGA sentence buffered
  kLostStart,   // the first GGA's "$" and talker were cut off: it is blotted out
  kIncomplete,  // a GGA sentence, but not yet the next one
  kFound,
};
struct EpochSpan {
  int start = 0;  // the first GGA's "$"
  int end = 0;    // the next GGA's "$"
};
// Finds the first GGA by `firstPattern` ("GGA" or "GGA,"), then the next
// "GGA," after it. A first GGA less than 3 characters into the data has its
// "G" overwritten with "!" so that it is not found again.
EpochSearch FindBufferedEpoch(char* data, int length, const char* firstPattern, EpochSpan* span);

// The monitoring reader's step: decode the first complete epoch of the buffer
// and keep the text after it (from the character before the next GGA's "$").
enum class StreamStep {
  kNeedMore,   // no complete epoch buffered
  kLostStart,  // a GGA without its start was blotted out; look again
  kDecoded,
  kDecodedMissingLineEnd,
  kGsvNumberOutOfRange,  // decoded as far as it went; the epoch is consumed all the same
};
StreamStep DecodeBufferedEpoch(ReceiveBuffer& buffer, FixRecord& fix, FixStatus& status,
                               SatelliteTable& table, EpochState& state);

// The Galileo consistency rule, for a 2D or 3D fix: used satellites numbered
// above 203 among the first inViewCount entries whose C/N0 spread is 4 dB or
// more mean the receiver has to be hot-started. When that is so, `hotStart`
// (the caller's reaction: command, log, restart its clock, drop its buffered
// text) runs and fixMode becomes 0. Returns whether it did.
bool GalileoSpreadCallsForHotStart(const FixStatus& status, const SatelliteTable& table);
bool ApplyGalileoRule(FixStatus& status, const SatelliteTable& table,
                      const std::function<void()>& hotStart);

// A captured stream cut and decoded exactly as the monitoring reader does it,
// without waits, port or hot-start rule: text is taken kReadChunkMax bytes at
// a time whenever no complete epoch is buffered, each epoch is one call, the
// records carry over from one epoch to the next and the last, unterminated
// epoch is left undecoded. `onEpoch` sees each decoded epoch with its step and
// the state (the reader returns state.gsaCount, or 0 after an out-of-range GSV
// message number).
using EpochVisitor = std::function<void(StreamStep step, const EpochState& state)>;
void DecodeEpochStream(std::string_view text, ReceiveBuffer& buffer, FixRecord& fix,
                       FixStatus& status, SatelliteTable& table, const EpochVisitor& onEpoch);

// The same stream handed over in pieces of any size (a file read piece by
// piece): the epochs, records and steps are those of DecodeEpochStream on
// the whole text, and no more than one piece and kReadChunkMax bytes are
// held besides the buffer.
struct EpochStream {
  ReceiveBuffer* buffer = nullptr;
  FixRecord* fix = nullptr;
  FixStatus* status = nullptr;
  SatelliteTable* table = nullptr;
  EpochState state;
  std::string unread;          // text handed over but not yet taken into the buffer
  std::size_t unreadFrom = 0;  // unread[0, unreadFrom) is already taken
  bool readNeeded = true;
};
void BeginEpochStream(EpochStream& stream, ReceiveBuffer& buffer, FixRecord& fix, FixStatus& status,
                      SatelliteTable& table);
// Decodes every epoch that the text so far completes.
void FeedEpochStream(EpochStream& stream, std::string_view piece, const EpochVisitor& onEpoch);
// The end of the text: decodes what the rest of it completes.
void FinishEpochStream(EpochStream& stream, const EpochVisitor& onEpoch);
