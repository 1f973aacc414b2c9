// Epoch cutting and decoding without a port.
#include "receiver/Epoch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "nmea_text.h"

using namespace nmeatext;

namespace {

struct Decoded {
  EpochOutcome outcome = EpochOutcome::kDecoded;
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  EpochState state;
};

// Decodes one epoch the way the loops find it: followed by the next GGA.
Decoded DecodeOne(const std::string& epoch) {
  std::string data = epoch + "$GPGGA,";
  Decoded d;
  BeginEpochCall(d.state, d.table);
  BeginEpochPass(d.state, d.table, d.status);
  d.outcome = DecodeEpoch(data.data(), static_cast<int>(data.size()), 0,
                          static_cast<int>(epoch.size()), d.fix, d.status, d.table, d.state);
  EXPECT_EQ(data, epoch + "$GPGGA,") << "the buffered text must be left as it was";
  return d;
}

struct StreamResult {
  std::vector<StreamStep> steps;
  std::vector<int> seconds;  // GGA second of each decoded epoch
  std::vector<int> gsaCounts;
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
};

StreamResult DecodeStream(const std::string& text) {
  StreamResult r;
  auto buffer = std::make_unique<ReceiveBuffer>();
  DecodeEpochStream(text, *buffer, r.fix, r.status, r.table,
                    [&](StreamStep step, const EpochState& state) {
                      r.steps.push_back(step);
                      r.seconds.push_back(r.fix.second);
                      r.gsaCounts.push_back(state.gsaCount);
                    });
  return r;
}

TEST(FindInBuffer, BoundedSearch) {
  struct Case {
    std::string data;
    int length;
    const char* pattern;
    int expected;
  };
  const Case cases[] = {
      {"abcGGA,", 7, "GGA", 3},
      {"abGGA", 4, "GGA", -1},                  // the match would end past length
      {std::string("a\0GGA", 5), 5, "GGA", 2},  // NULs do not end the search
      {"GG", 2, "GGA", -1},
      {"GGA", 0, "GGA", -1},
      {"xx\r\n", 4, "\r\n", 2},
      {"GGAGGA,", 7, "GGA,", 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindInBuffer(c.data.data(), c.pattern, c.length), c.expected)
        << "data \"" << c.data << "\" length " << c.length;
}

TEST(EpochDecode, GoodEpochFillsTheRecords) {
  const Decoded d = DecodeOne(GoodEpoch(19));
  EXPECT_EQ(d.outcome, EpochOutcome::kDecoded);
  EXPECT_EQ(d.status.fixMode, 3);
  EXPECT_EQ(d.state.gsaCount, 6);
  EXPECT_EQ(d.status.inViewCount, 6);
  EXPECT_EQ(d.state.inView, 6);
  EXPECT_TRUE(d.state.dateSeen);
  EXPECT_EQ(d.fix.second, 19);
  EXPECT_EQ(d.fix.day, 10);
  EXPECT_DOUBLE_EQ(d.fix.vdop, 1.5);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.table[static_cast<std::size_t>(i)].usedFlag, 'U') << i;
  EXPECT_EQ(d.table[6].prn, -1);
}

TEST(EpochDecode, GsvGroupsFillTheTableInTurn) {
  // GPS: 3 messages, 10 in view; GLONASS: 2 messages, 7 in view.
  const Decoded d = DecodeOne(Gga(1) + GsvGroup("GP", Sats(1, 10)) + GsvGroup("GL", Sats(65, 7)));
  ASSERT_EQ(d.status.inViewCount, 17);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(d.table[static_cast<std::size_t>(i)].prn, 1 + i);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(d.table[static_cast<std::size_t>(10 + i)].prn, 65 + i);
  EXPECT_EQ(d.table[17].prn, -1);
}

TEST(EpochDecode, GsvLimits) {
  struct Case {
    const char* name;
    std::string gsv;
    EpochOutcome outcome;
    int inView;
  };
  const std::vector<Sat> four = Sats(1, 4);
  const Case cases[] = {
      {"25 in view counts none", GsvMessage("GP", 7, 1, 25, four), EpochOutcome::kDecoded, 0},
      {"message number 12", GsvMessage("GP", 3, 1, 10, four) + GsvMessage("GP", 3, 12, 10, four),
       EpochOutcome::kGsvNumberOutOfRange, 0},
      {"message number 0", GsvMessage("GP", 3, 1, 10, four) + GsvMessage("GP", 3, 0, 10, four),
       EpochOutcome::kGsvNumberOutOfRange, 0},
      // Five groups of 3 messages: 45 satellites and 15 message-seen flags.
      {"more than 32 in view",
       GsvGroup("GP", Sats(1, 9)) + GsvGroup("GL", Sats(65, 9)) + GsvGroup("GA", Sats(201, 9)) +
           GsvGroup("GB", Sats(301, 9)) + GsvGroup("GQ", Sats(193, 9)),
       EpochOutcome::kDecoded, 32},
      // A negative count must not push the next group off the table.
      {"negative in view", GsvMessage("GP", 1, 1, -2, {}) + GsvGroup("GL", Sats(65, 2)),
       EpochOutcome::kDecoded, 2},
      // A group that never completes still ends at the next sentence.
      {"incomplete group", GsvMessage("GP", 3, 1, 10, four) + Zda(), EpochOutcome::kDecoded, 0},
  };
  for (const Case& c : cases) {
    const Decoded d = DecodeOne(Gga(1) + c.gsv + Zda());
    EXPECT_EQ(d.outcome, c.outcome) << c.name;
    EXPECT_EQ(d.status.inViewCount, c.inView) << c.name;
  }
  const Decoded many = DecodeOne(Gga(1) + GsvGroup("GP", Sats(1, 9)) + GsvGroup("GL", Sats(65, 9)) +
                                 GsvGroup("GA", Sats(201, 9)) + GsvGroup("GB", Sats(301, 9)));
  EXPECT_EQ(many.table[31].prn, 305);  // the fifth BeiDou satellite
}

TEST(EpochDecode, GsaChainAndUsedSatellites) {
  // Two GSA sentences in a row fill usedPrn one after another; a satellite
  // below 20 dB-Hz is never marked used.
  const Decoded d = DecodeOne(Gga(1) + Gsa(3, {5, 12}, "GN") + Gsa(3, {65, 70}, "GN") +
                              GsvGroup("GP", {{5, 1, 1, 40}, {12, 1, 1, 19}, {13, 1, 1, 40}}) +
                              GsvGroup("GL", {{65, 1, 1, 20}, {70, 1, 1, -1}}));
  EXPECT_EQ(d.state.gsaCount, 4);
  EXPECT_EQ(d.status.usedPrn[0], 5);
  EXPECT_EQ(d.status.usedPrn[2], 65);
  EXPECT_EQ(d.status.usedPrn[3], 70);
  const char expected[] = {'U', 0, 0, 'U', 0};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(d.table[static_cast<std::size_t>(i)].usedFlag, expected[i]) << "entry " << i;
  // A sentence between them breaks the chain: the second starts again at slot 0.
  const Decoded broken =
      DecodeOne(Gga(1) + Gsa(3, {5, 12}, "GN") + "$PUBX,00*33\r\n" + Gsa(3, {65, 70}, "GN"));
  EXPECT_EQ(broken.state.gsaCount, 2);
  EXPECT_EQ(broken.status.usedPrn[0], 65);
}

TEST(EpochDecode, NoiseBetweenSentencesChangesNothing) {
  const Decoded clean = DecodeOne(GoodEpoch(7));
  const std::string ubx("\xB5\x62\x01\x07\x5C\x00\x00\x00\x24\x47\x47\x41\x0D\x0A", 14);
  const std::string noise[] = {
      ubx,
      std::string("\x00\xff\x10GSA\x00", 7),
      "$PUBX,00,123519.00*33\r\n",
      "garbage without line end ",
  };
  for (const std::string& n : noise) {
    std::string epoch = GoodEpoch(7);
    epoch.insert(epoch.find("$GPGSV"), n);
    const Decoded d = DecodeOne(epoch);
    EXPECT_EQ(d.outcome, EpochOutcome::kDecoded);
    EXPECT_EQ(d.state.gsaCount, clean.state.gsaCount);
    EXPECT_EQ(d.status.inViewCount, clean.status.inViewCount);
    EXPECT_EQ(d.state.dateSeen, clean.state.dateSeen);
  }
}

TEST(EpochDecode, MalformedSentences) {
  // Line ends missing everywhere: nothing after the GGA is decoded.
  std::string lfOnly = GoodEpoch(7);
  for (std::size_t p; (p = lfOnly.find("\r\n")) != std::string::npos;) lfOnly.erase(p, 1);
  const Decoded noCr = DecodeOne(lfOnly);
  EXPECT_EQ(noCr.outcome, EpochOutcome::kMissingLineEnd);
  EXPECT_FALSE(noCr.state.dateSeen);

  // A 10,000-character sentence in the middle; the rest still decodes.
  const Decoded longLine =
      DecodeOne(Gga(1) + "$GPGSA,A,3," + std::string(10000, '7') + "\r\n" + Zda());
  EXPECT_EQ(longLine.outcome, EpochOutcome::kDecoded);
  EXPECT_TRUE(longLine.state.dateSeen);

  // A GSA chain whose second sentence has no line end: the used count is the
  // one of the sentence decoded, as in usedCount.
  std::string cutChain = Gga(1) + Gsa(3, {5, 12}, "GN") + Gsa(3, {65, 70}, "GN");
  cutChain.resize(cutChain.size() - 2);
  const Decoded chain = DecodeOne(cutChain);
  EXPECT_EQ(chain.outcome, EpochOutcome::kMissingLineEnd);
  EXPECT_EQ(chain.status.usedCount, 2);
  EXPECT_EQ(chain.state.gsaCount, 2);

  // Truncated sentences at the very end of the epoch.
  for (const char* tail : {"$", "$G", "$GPGS", "$GPGSV", "$GPGSV,1"}) {
    const Decoded d = DecodeOne(Gga(1) + tail);
    EXPECT_NE(d.outcome, EpochOutcome::kGsvNumberOutOfRange) << tail;
  }
}

TEST(EpochStream, CutsEpochsAndCarriesTheRest) {
  // Two and a half epochs: two decoded, the unterminated half left.
  const std::string half = GoodEpoch(3).substr(0, 60);
  StreamResult r = DecodeStream(GoodEpoch(1) + GoodEpoch(2) + half);
  EXPECT_EQ(r.seconds, (std::vector<int>{1, 2}));
  EXPECT_EQ(r.gsaCounts, (std::vector<int>{6, 6}));

  // A stream whose first GGA lost its "$" and talker: that occurrence is skipped.
  const std::string lost = GoodEpoch(1).substr(3);
  r = DecodeStream(lost + GoodEpoch(2) + Gga(3));
  EXPECT_EQ(r.seconds, (std::vector<int>{2}));

  // An epoch without GSA returns 0 even when the one before had a chain.
  r = DecodeStream(GoodEpoch(1) + Gga(2) + Zda() + Gga(3));
  EXPECT_EQ(r.gsaCounts, (std::vector<int>{6, 0}));
  EXPECT_EQ(r.status.fixMode, 3) << "records carry over from one epoch to the next";

  // An out-of-range GSV number is reported and the epoch consumed, so the
  // next one is still reached.
  r = DecodeStream(Gga(1) + GsvMessage("GP", 3, 1, 10, Sats(1, 4)) +
                   GsvMessage("GP", 3, 12, 10, Sats(5, 4)) + GoodEpoch(2) + Gga(3));
  EXPECT_EQ(r.steps,
            (std::vector<StreamStep>{StreamStep::kGsvNumberOutOfRange, StreamStep::kDecoded}));
  EXPECT_EQ(r.seconds.back(), 2);
}

TEST(EpochStream, FullBufferWithoutEpochIsDropped) {
  // 40,000 bytes without a GGA and then two epochs: the junk is dropped
  // 6,000 bytes at a time and the epochs are still found.
  const StreamResult r = DecodeStream(std::string(40000, 'x') + GoodEpoch(1) + GoodEpoch(2));
  EXPECT_EQ(r.seconds, (std::vector<int>{1}));
}

TEST(EpochStream, PiecesOfAnySizeDecodeAsTheWholeText) {
  // Epochs after junk that fills the buffer to just below its mark (so that
  // where each read ends decides which epoch the emptying takes), a lost
  // start, a bad GSV number and an unterminated last epoch.
  std::string text = std::string(kReceiveBufferFullMark - 10, 'x');
  for (int i = 0; i < 150; ++i) text += GoodEpoch(i % 60);
  text += std::string(40000, 'x') + GoodEpoch(1).substr(3);
  for (int i = 0; i < 150; ++i) text += GoodEpoch(i % 60, i % 2 == 0);
  text += Gga(7) + GsvMessage("GP", 3, 12, 10, Sats(5, 4)) + GoodEpoch(8) + Gga(9);
  const StreamResult whole = DecodeStream(text);
  ASSERT_GT(whole.seconds.size(), 250u);

  for (const std::size_t piece : {std::size_t{1}, std::size_t{13}, std::size_t{5999},
                                  std::size_t{6000}, std::size_t{6001}, std::size_t{65536}}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    StreamResult r;
    auto buffer = std::make_unique<ReceiveBuffer>();
    const EpochVisitor onEpoch = [&](StreamStep step, const EpochState& state) {
      r.steps.push_back(step);
      r.seconds.push_back(r.fix.second);
      r.gsaCounts.push_back(state.gsaCount);
    };
    EpochStream stream;
    BeginEpochStream(stream, *buffer, r.fix, r.status, r.table);
    for (std::size_t at = 0; at < text.size(); at += piece) {
      FeedEpochStream(stream, std::string_view(text).substr(at, piece), onEpoch);
      ASSERT_LT(stream.unread.size() - stream.unreadFrom, static_cast<std::size_t>(kReadChunkMax))
          << "more than one read's worth held back";
    }
    FinishEpochStream(stream, onEpoch);
    EXPECT_EQ(r.steps, whole.steps);
    EXPECT_EQ(r.seconds, whole.seconds);
    EXPECT_EQ(r.gsaCounts, whole.gsaCounts);
    EXPECT_EQ(r.status.usedPrn, whole.status.usedPrn);
    EXPECT_EQ(r.status.inViewCount, whole.status.inViewCount);
    EXPECT_EQ(r.fix.day, whole.fix.day);
  }
}

TEST(GalileoRule, SpreadOfUsedGalileoCn0) {
  struct Case {
    const char* name;
    int fixMode;
    std::vector<SatelliteEntry> entries;
    int inViewCount;
    bool hotStart;
  };
  const Case cases[] = {
      {"spread 4", 3, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 2, true},
      {"spread 3", 3, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 43, 'U'}}, 2, false},
      {"2D fix", 2, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 2, true},
      {"no fix", 1, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 2, false},
      {"PRN 203 is not Galileo", 3, {{203, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 2, false},
      {"unused satellite", 3, {{211, 1, 1, 40, 0}, {212, 1, 1, 44, 'U'}}, 2, false},
      {"beyond the in-view count", 3, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 1, false},
      {"in-view count out of range", 3, {{211, 1, 1, 40, 'U'}, {212, 1, 1, 44, 'U'}}, 99, true},
  };
  for (const Case& c : cases) {
    FixStatus status;
    status.fixMode = c.fixMode;
    status.inViewCount = c.inViewCount;
    SatelliteTable table;
    for (std::size_t i = 0; i < c.entries.size(); ++i) table[i] = c.entries[i];
    int hooked = 0;
    EXPECT_EQ(ApplyGalileoRule(status, table, [&] { ++hooked; }), c.hotStart) << c.name;
    EXPECT_EQ(hooked, c.hotStart ? 1 : 0) << c.name;
    EXPECT_EQ(status.fixMode, c.hotStart ? 0 : c.fixMode) << c.name;
  }
}

}  // namespace
