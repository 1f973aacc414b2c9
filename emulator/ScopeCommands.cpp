#include "ScopeCommands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "EmuModule.h"
#include "ScpiInstrument.h"

namespace emu {

namespace {

constexpr long kMaxRecordLength = 1000000;
constexpr int kSamplesPerPeriod = 1000;
constexpr int kNoiseLevels = 3;

enum class ScopeStep {
  None,
  Header,
  Source,
  RecordLength,
  RecordQuery,
  Offset,
  Multiplier,
  Encoding,
  Curve
};

struct StepName {
  const char* shortForm;
  const char* longForm;
  ScopeStep step;
};
constexpr StepName kSteps[] = {
    {"NONE", "NONE", ScopeStep::None},
    {"HEAD", "HEADER", ScopeStep::Header},
    {"SOUR", "SOURCE", ScopeStep::Source},
    {"RECL", "RECLENGTH", ScopeStep::RecordLength},
    {"RECQ", "RECQUERY", ScopeStep::RecordQuery},
    {"YOFF", "YOFFSET", ScopeStep::Offset},
    {"YMUL", "YMULT", ScopeStep::Multiplier},
    {"ENC", "ENCODING", ScopeStep::Encoding},
    {"CURV", "CURVE", ScopeStep::Curve},
};

struct ScopeState {
  bool header = true;
  int source = 1;
  long recordLength = 10000;
  long start = 1;
  long stop = 10000;
  bool binary = true;
  int width = 1;
  // Faults.
  ScopeStep failAt = ScopeStep::None;
  long shortRecord = 0;
  double offset = 0.0;
  double multiplier = 0.01;

  void ClearFaults() {
    failAt = ScopeStep::None;
    shortRecord = 0;
    offset = 0.0;
    multiplier = 0.01;
  }
};

// Sample i of the synthetic waveform (fixed noise sequence, so a capture can
// be compared with another).
std::string Waveform(long count) {
  std::string samples(static_cast<std::size_t>(count), '\0');
  std::mt19937 random(5025u);
  std::uniform_int_distribution<int> noise(-kNoiseLevels, kNoiseLevels);
  const double pi = std::acos(-1.0);
  for (long i = 0; i < count; ++i) {
    const double phase = 2.0 * pi * static_cast<double>(i % kSamplesPerPeriod) / kSamplesPerPeriod;
    int level = static_cast<int>(std::lround(-128.0 * std::cos(phase)));
    if (i > 0) level += noise(random);
    level = std::clamp(level, -128, 127);
    samples[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<signed char>(level));
  }
  return samples;
}

std::string FormatNumber(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6E", value);
  return text;
}

class ScopeModule : public EmuModule {
 public:
  const char* Name() const override { return "scope"; }
  void RegisterCommands(ScpiInstrument& instrument) override;
  bool Start(EmuContext&, QString*) override { return true; }
};

void ScopeModule::RegisterCommands(ScpiInstrument& instrument) {
  auto state = std::make_shared<ScopeState>();
  instrument.KeepAlive(state);
  instrument.AddLabResetHook([state] { state->ClearFaults(); });
  ScpiCommandTable& t = instrument.Commands();
  ScopeState* const s = state.get();

  // Runs the step's handler unless the lab arranged that step to fail: then
  // the connection goes instead.
  auto step = [s](ScopeStep which, ScpiHandler handler) -> ScpiHandler {
    return [s, which, handler](ScpiCall& c) {
      if (s->failAt == which) {
        c.Instrument().Faults().dropAllNow = true;
        return;
      }
      handler(c);
    };
  };
  // The answer of a query, headed by its header while HEADer is ON.
  auto reply = [s](ScpiCall& c, const char* header, const std::string& value) {
    c.Reply(s->header ? std::string(header) + " " + value : value);
  };
  auto setLong = [](ScpiCall& c, long low, long high, long* target) {
    auto v = c.Integer(0);
    if (!v) return;
    if (*v < low || *v > high) {
      c.Error(scpi_error::kDataOutOfRange, "Data out of range");
      return;
    }
    *target = *v;
  };

  t.Add("HEADer", step(ScopeStep::Header, [s](ScpiCall& c) {
          if (auto on = c.Boolean(0)) s->header = *on;
        }));
  t.Add("HEADer?", [s](ScpiCall& c) { c.Reply(s->header ? "1" : "0"); });
  t.Add("DATa:SOURce", step(ScopeStep::Source, [s](ScpiCall& c) {
          auto word = c.Keyword(0);
          if (!word) return;
          if (word->size() != 3 || word->rfind("CH", 0) != 0 || (*word)[2] < '1' ||
              (*word)[2] > '4') {
            c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
            return;
          }
          s->source = (*word)[2] - '0';
        }));
  t.Add("DATa:SOURce?",
        [s, reply](ScpiCall& c) { reply(c, ":DATA:SOURCE", "CH" + std::to_string(s->source)); });
  // The station writes the node as RECORDLEN, neither its short nor its long
  // form; the instrument takes it.
  t.Add("HORizontal:RECOrdlength|RECORDLEN",
        step(ScopeStep::RecordLength,
             [s, setLong](ScpiCall& c) { setLong(c, 1, kMaxRecordLength, &s->recordLength); }));
  t.Add("HORizontal:RECOrdlength|RECORDLEN?", step(ScopeStep::RecordQuery, [s, reply](ScpiCall& c) {
          reply(c, ":HORIZONTAL:RECORDLENGTH", std::to_string(s->recordLength));
        }));
  t.Add("DATa:STARt", [s, setLong](ScpiCall& c) { setLong(c, 1, kMaxRecordLength, &s->start); });
  t.Add("DATa:STARt?",
        [s, reply](ScpiCall& c) { reply(c, ":DATA:START", std::to_string(s->start)); });
  t.Add("DATa:STOP", [s, setLong](ScpiCall& c) { setLong(c, 1, kMaxRecordLength, &s->stop); });
  t.Add("DATa:STOP?", [s, reply](ScpiCall& c) { reply(c, ":DATA:STOP", std::to_string(s->stop)); });
  t.Add("WFMOutpre:YOFf?", step(ScopeStep::Offset, [s, reply](ScpiCall& c) {
          reply(c, ":WFMOUTPRE:YOFF", FormatNumber(s->offset));
        }));
  t.Add("WFMOutpre:YMUlt?", step(ScopeStep::Multiplier, [s, reply](ScpiCall& c) {
          reply(c, ":WFMOUTPRE:YMULT", FormatNumber(s->multiplier));
        }));
  t.Add("DATa:ENCdg", step(ScopeStep::Encoding, [s](ScpiCall& c) {
          auto word = c.Keyword(0);
          if (!word) return;
          if (*word == "RIB" || *word == "RIBINARY") {
            s->binary = true;
          } else if (*word == "ASCI" || *word == "ASCII") {
            s->binary = false;
          } else {
            c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
          }
        }));
  t.Add("DATa:WIDth", [s](ScpiCall& c) {
    auto v = c.Integer(0);
    if (!v) return;
    // Only 8-bit samples are recorded.
    if (*v != 1) {
      c.Error(scpi_error::kDataOutOfRange, "Data out of range");
      return;
    }
    s->width = 1;
  });
  t.Add("CURVe?", step(ScopeStep::Curve, [s](ScpiCall& c) {
          const long first = std::max(1L, s->start);
          const long last = std::min(s->stop, s->recordLength);
          long count = last >= first ? last - first + 1 : 0;
          if (s->shortRecord > 0) count = std::min(count, s->shortRecord);
          const std::string record =
              Waveform(first - 1 + count).substr(static_cast<std::size_t>(first - 1));
          if (!s->binary) {
            std::string text;
            for (char sample : record) {
              if (!text.empty()) text += ',';
              text += std::to_string(static_cast<signed char>(sample));
            }
            c.Reply(s->header ? ":CURVE " + text : text);
            return;
          }
          const std::string digits = std::to_string(record.size());
          c.Reply((s->header ? ":CURVE " : "") + ("#" + std::to_string(digits.size()) + digits) +
                  record);
        }));

  // Faults.
  t.Add("EMULator:SCOPe:FAIL", [s](ScpiCall& c) {
    auto word = c.Keyword(0);
    if (!word) return;
    for (const StepName& name : kSteps) {
      if (*word == name.shortForm || *word == name.longForm) {
        s->failAt = name.step;
        return;
      }
    }
    c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
  });
  t.Add("EMULator:SCOPe:FAIL?", [s](ScpiCall& c) {
    for (const StepName& name : kSteps) {
      if (name.step == s->failAt) c.Reply(name.shortForm);
    }
  });
  t.Add("EMULator:SCOPe:SHORt",
        [s, setLong](ScpiCall& c) { setLong(c, 0, kMaxRecordLength, &s->shortRecord); });
  t.Add("EMULator:SCOPe:SHORt?", [s](ScpiCall& c) { c.Reply(std::to_string(s->shortRecord)); });
  auto real = [&t](const char* pattern, double* target) {
    t.Add(pattern, [target](ScpiCall& c) {
      if (auto v = c.Number(0)) *target = *v;
    });
    t.Add(std::string(pattern) + "?", [target](ScpiCall& c) { c.Reply(FormatNumber(*target)); });
  };
  real("EMULator:SCOPe:YOFFset", &s->offset);
  real("EMULator:SCOPe:YMULt", &s->multiplier);
}

}  // namespace

QARN_EMU_MODULE(ScopeModule)

}  // namespace emu
