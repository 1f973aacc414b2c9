#include "receiver/Epoch.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kNotFound = -1;

// The type of the sentence at `position`, read only inside data[0, limit).
NmeaSentenceType TypeAt(const char* data, int position, int limit) {
  if (position < 0 || position >= limit) return NmeaSentenceType::kOther;
  return NmeaTypeAt(data + position, static_cast<std::size_t>(limit - position));
}

// Position of the first `c` in data[from, to), or -1.
int FindChar(const char* data, int from, int to, char c) {
  if (from < 0 || from >= to) return kNotFound;
  const void* hit = std::memchr(data + from, c, static_cast<std::size_t>(to - from));
  return hit ? static_cast<int>(static_cast<const char*>(hit) - data) : kNotFound;
}

// Position of `pattern` in data[from, to), or -1.
int FindFrom(const char* data, int from, int to, const char* pattern) {
  if (from < 0 || from >= to) return kNotFound;
  const int hit = FindInBuffer(data + from, pattern, to - from);
  return hit == kNotFound ? kNotFound : from + hit;
}

// A sentence cut at its first CR LF for one decoder call; the CR is put back
// when the cut goes out of scope.
class CutSentence {
 public:
  CutSentence(char* data, int lineEnd) : at_(data + lineEnd), saved_(*at_) { *at_ = '\0'; }
  ~CutSentence() { *at_ = saved_; }
  CutSentence(const CutSentence&) = delete;
  CutSentence& operator=(const CutSentence&) = delete;

 private:
  char* at_;
  char saved_;
};

struct EpochCursor {
  char* data;
  int length;  // buffered data, through which line ends are searched
  int end;     // the epoch's end
  FixRecord& fix;
  FixStatus& status;
  SatelliteTable& table;
  EpochState& state;

  // The CR LF that ends the sentence at `position`, searched over the rest of
  // the buffered data.
  int LineEnd(int position) const { return FindFrom(data, position + 1, length, "\r\n"); }
};

// Every entry whose number is among the first usedCount used PRNs and whose
// C/N0 is high enough gets the "U".
void MarkUsedSatellites(const FixStatus& status, SatelliteTable& table) {
  const int used = std::clamp(status.usedCount, 0, kUsedPrnSlots);
  const auto first = status.usedPrn.begin();
  for (SatelliteEntry& entry : table) {
    if (entry.cn0 >= kUsedCn0Min && std::find(first, first + used, entry.prn) != first + used)
      entry.usedFlag = 'U';
  }
}

// Consecutive GSA sentences fill usedPrn one after another. Leaves the cursor
// just before the first sentence that is not GSA.
EpochOutcome DecodeGsaChain(EpochCursor& e, int& cursor) {
  int slot = 0;
  int position = cursor;
  for (;;) {
    const int lineEnd = e.LineEnd(position);
    if (lineEnd == kNotFound) {
      e.state.gsaCount = slot;  // what the sentences before it counted
      return EpochOutcome::kMissingLineEnd;
    }
    {
      CutSentence cut(e.data, lineEnd);
      slot = GPGSAParser_Status(e.data + position, e.status, slot);
    }
    e.fix.vdop = e.status.vdop;
    const int next = FindChar(e.data, position + 1, e.end, '$');
    if (next == kNotFound) {
      cursor = e.end;
      break;
    }
    if (TypeAt(e.data, next, e.length) != NmeaSentenceType::kGsa) {
      cursor = next - 1;
      break;
    }
    position = next;
  }
  e.state.gsaCount = slot;
  MarkUsedSatellites(e.status, e.table);
  return EpochOutcome::kDecoded;
}

// GSV groups following one another fill the table one after another. Ends at
// the first sentence that is not GSV, leaving the cursor just before it.
EpochOutcome CollectGsvGroups(EpochCursor& e, int& cursor) {
  int filled = 0;
  int counted = 0;  // messages of the groups completed so far
  int messageCount = 0;
  int messageNumber = 0;
  int position = cursor;
  for (;;) {
    position = FindChar(e.data, position, e.end, '$');
    if (position == kNotFound) {
      cursor = e.end;
      break;
    }
    if (TypeAt(e.data, position, e.length) != NmeaSentenceType::kGsv) {
      // Whether or not every message of the completed groups was seen, the
      // collection ends here: scanning on would swallow the sentences after it.
      cursor = position - 1;
      break;
    }
    const int lineEnd = e.LineEnd(position);
    if (lineEnd == kNotFound) return EpochOutcome::kMissingLineEnd;
    int inView = 0;
    {
      CutSentence cut(e.data, lineEnd);
      inView = GPGSVParser(e.data + position, e.table, messageCount, messageNumber, filled);
    }
    if (inView > kGsvInViewMax) {
      filled = 0;
      cursor = position;
      break;
    }
    if (messageNumber < 1 || messageNumber > kGsvMessageNumberMax)
      return EpochOutcome::kGsvNumberOutOfRange;
    const int flag = counted + messageNumber - 1;
    if (flag < kGsvSeenFlags) e.state.gsvSeen[static_cast<std::size_t>(flag)] = true;
    if (messageNumber == messageCount) {
      counted += messageCount;
      // A negative count ("-02") would move the next group's first slot
      // before the table.
      filled += std::max(inView, 0);
    }
    ++position;
  }
  // Entries beyond the table were dropped by the decoder: count what is there.
  const int entries = std::min(filled, kSatelliteTableSize);
  e.status.inViewCount = entries;
  e.state.inView = entries;
  return EpochOutcome::kDecoded;
}

EpochOutcome DecodeSentences(EpochCursor& e, int start) {
  int cursor = start;
  while (cursor != kNotFound && cursor < e.end) {
    const int lineEnd = e.LineEnd(cursor);
    if (lineEnd == kNotFound) return EpochOutcome::kMissingLineEnd;
    EpochOutcome outcome = EpochOutcome::kDecoded;
    switch (TypeAt(e.data, cursor, e.length)) {
      case NmeaSentenceType::kGsa:
        outcome = DecodeGsaChain(e, cursor);
        break;
      case NmeaSentenceType::kGga: {
        CutSentence cut(e.data, lineEnd);
        GPGGAParser(e.data + cursor, e.fix);
        break;
      }
      case NmeaSentenceType::kZda: {
        CutSentence cut(e.data, lineEnd);
        GPZDAParser(e.data + cursor, e.fix);
        e.state.dateSeen = true;
        break;
      }
      case NmeaSentenceType::kRmc: {
        CutSentence cut(e.data, lineEnd);
        GPRMCParser(e.data + cursor, e.fix);
        e.state.dateSeen = true;
        break;
      }
      case NmeaSentenceType::kGsv:
        // A group's first message (of a group of fewer than 10).
        if (cursor + 9 < lineEnd && e.data[cursor + 9] == '1')
          outcome = CollectGsvGroups(e, cursor);
        break;
      case NmeaSentenceType::kOther:
        break;
    }
    if (outcome != EpochOutcome::kDecoded) return outcome;
    cursor = FindFrom(e.data, cursor + 1, e.end, "$G");
  }
  return EpochOutcome::kDecoded;
}

}  // namespace

int FindInBuffer(const char* data, const char* pattern, int length) {
  if (!data || !pattern || length <= 0) return kNotFound;
  const int patternLength = static_cast<int>(std::strlen(pattern));
  if (patternLength == 0) return 0;
  const int last = length - patternLength;  // last possible start
  int i = 0;
  while (i <= last) {
    const void* hit = std::memchr(data + i, pattern[0], static_cast<std::size_t>(last - i + 1));
    if (!hit) return kNotFound;
    i = static_cast<int>(static_cast<const char*>(hit) - data);
    int k = 1;  // the patterns are a few characters: compare in place
    while (k < patternLength && data[i + k] == pattern[k]) ++k;
    if (k == patternLength) return i;
    ++i;
  }
  return kNotFound;
}

void ResetSatelliteTable(SatelliteTable& table) { table.fill(SatelliteEntry{}); }

void BeginEpochCall(EpochState& state, SatelliteTable& table) {
  ResetSatelliteTable(table);
  state = EpochState{};
}

void BeginEpochPass(EpochState& state, SatelliteTable& table, FixStatus& status) {
  ResetSatelliteTable(table);
  state.gsvSeen.fill(false);
  state.dateSeen = false;
  status.inViewCount = 0;
}

EpochOutcome DecodeEpoch(char* data, int length, int start, int end, FixRecord& fix,
                         FixStatus& status, SatelliteTable& table, EpochState& state) {
  if (!data || start < 0 || end > length || start >= end) return EpochOutcome::kDecoded;
  EpochCursor e{data, length, end, fix, status, table, state};
  EpochOutcome outcome;
  if (end < length) {
    CutSentence epochEnd(data, end);
    outcome = DecodeSentences(e, start);
  } else {
    outcome = DecodeSentences(e, start);
  }
  if (outcome != EpochOutcome::kGsvNumberOutOfRange) MarkUsedSatellites(status, table);
  return outcome;
}

EpochSearch FindBufferedEpoch(char* data, int length, const char* firstPattern, EpochSpan* span) {
  const int first = FindInBuffer(data, firstPattern, length);
  if (first == kNotFound) return EpochSearch::kNoGga;
  if (first < 3) {
    data[first] = '!';
    return EpochSearch::kLostStart;
  }
  const int start = first - 3;
  const int second = FindFrom(data, start + 4, length, "GGA,");
  if (second == kNotFound) return EpochSearch::kIncomplete;
  span->start = start;
  span->end = second - 3;
  return EpochSearch::kFound;
}

StreamStep DecodeBufferedEpoch(ReceiveBuffer& buffer, FixRecord& fix, FixStatus& status,
                               SatelliteTable& table, EpochState& state) {
  buffer.length = std::clamp(buffer.length, 0, kReceiveBufferCapacity);
  EpochSpan span;
  switch (FindBufferedEpoch(buffer.text, buffer.length, "GGA,", &span)) {
    case EpochSearch::kFound:
      break;
    case EpochSearch::kLostStart:
      return StreamStep::kLostStart;
    default:
      return StreamStep::kNeedMore;
  }
  const EpochOutcome outcome =
      DecodeEpoch(buffer.text, buffer.length, span.start, span.end, fix, status, table, state);
  // Keep the text from the character before the next GGA's "$" on; also after
  // a bad GSV number, or the next call would meet the same epoch again.
  const int keepFrom = std::max(span.end - 1, 1);
  std::memmove(buffer.text, buffer.text + keepFrom,
               static_cast<std::size_t>(buffer.length - keepFrom));
  buffer.length -= keepFrom;
  switch (outcome) {
    case EpochOutcome::kMissingLineEnd:
      return StreamStep::kDecodedMissingLineEnd;
    case EpochOutcome::kGsvNumberOutOfRange:
      return StreamStep::kGsvNumberOutOfRange;
    default:
      return StreamStep::kDecoded;
  }
}

bool GalileoSpreadCallsForHotStart(const FixStatus& status, const SatelliteTable& table) {
  if (status.fixMode != 2 && status.fixMode != 3) return false;
  const int entries = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  int lo = 1000;
  int hi = -1;
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& entry = table[static_cast<std::size_t>(i)];
    if (entry.prn > kGalileoPrnAbove && entry.usedFlag == 'U') {
      lo = std::min(lo, entry.cn0);
      hi = std::max(hi, entry.cn0);
    }
  }
  // A spread of exactly 4 dB already counts.
  return hi - lo >= kGalileoCn0SpreadLimit;
}

bool ApplyGalileoRule(FixStatus& status, const SatelliteTable& table,
                      const std::function<void()>& hotStart) {
  if (!GalileoSpreadCallsForHotStart(status, table)) return false;
  if (hotStart) hotStart();
  status.fixMode = 0;
  return true;
}

namespace {

// The monitoring reader's loop over text[taken, size): what has been handed
// over so far. Without `atEnd` it stops where it would read and fewer than
// kReadChunkMax bytes are there, so that every read takes what it would take
// from the whole text.
void RunEpochStream(EpochStream& s, std::string_view text, std::size_t& taken, bool atEnd,
                    const EpochVisitor& onEpoch) {
  ReceiveBuffer& buffer = *s.buffer;
  for (;;) {
    // Starting a pass twice in a row (after waiting for text) is one pass.
    BeginEpochPass(s.state, *s.table, *s.status);
    const std::size_t available = text.size() - taken;
    if (s.readNeeded) {
      if (!atEnd && available < static_cast<std::size_t>(kReadChunkMax)) return;
      if (available > 0) {
        if (buffer.length >= kReceiveBufferFullMark) buffer.length = 0;
        const std::size_t n = std::min<std::size_t>(kReadChunkMax, available);
        std::memcpy(buffer.text + buffer.length, text.data() + taken, n);
        buffer.length += static_cast<int>(n);
        taken += n;
        s.readNeeded = false;
      }
    }
    const StreamStep step = DecodeBufferedEpoch(buffer, *s.fix, *s.status, *s.table, s.state);
    if (step == StreamStep::kNeedMore || step == StreamStep::kLostStart) {
      // At the end of the text only a blotted GGA is worth another look; what
      // is left otherwise is an unterminated epoch.
      if (step == StreamStep::kNeedMore && atEnd && taken >= text.size()) return;
      s.readNeeded = true;
      continue;
    }
    if (onEpoch) onEpoch(step, s.state);
    BeginEpochCall(s.state, *s.table);
  }
}

}  // namespace

void BeginEpochStream(EpochStream& stream, ReceiveBuffer& buffer, FixRecord& fix, FixStatus& status,
                      SatelliteTable& table) {
  stream = EpochStream{};
  stream.buffer = &buffer;
  stream.fix = &fix;
  stream.status = &status;
  stream.table = &table;
  buffer.length = 0;
  BeginEpochCall(stream.state, table);
}

void FeedEpochStream(EpochStream& stream, std::string_view piece, const EpochVisitor& onEpoch) {
  // Less than one read's worth is ever left over.
  stream.unread.erase(0, stream.unreadFrom);
  stream.unreadFrom = 0;
  stream.unread.append(piece);
  RunEpochStream(stream, stream.unread, stream.unreadFrom, false, onEpoch);
}

void FinishEpochStream(EpochStream& stream, const EpochVisitor& onEpoch) {
  RunEpochStream(stream, stream.unread, stream.unreadFrom, true, onEpoch);
  stream.unread.clear();
  stream.unreadFrom = 0;
}

void DecodeEpochStream(std::string_view text, ReceiveBuffer& buffer, FixRecord& fix,
                       FixStatus& status, SatelliteTable& table, const EpochVisitor& onEpoch) {
  EpochStream stream;
  BeginEpochStream(stream, buffer, fix, status, table);
  std::size_t taken = 0;
  RunEpochStream(stream, text, taken, true, onEpoch);
}
