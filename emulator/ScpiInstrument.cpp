#include "ScpiInstrument.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "SimulatorModel.h"
#include "TextFormat.h"

namespace emu {

namespace {

std::string_view Trim(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Splits at `separator` outside single or double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  char quote = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool IsHeaderChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '*' || c == '?' ||
         c == '_';
}

// A number with an optional unit, e.g. "1.57542GHz", "-105.000000 dBm".
std::optional<double> ParseNumberWithUnit(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  const std::string unit = Upper(Trim(std::string_view(end, text.data() + text.size() - end)));
  static const std::pair<const char*, double> kUnits[] = {
      {"", 1.0},    {"HZ", 1.0}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9},
      {"DBM", 1.0}, {"DB", 1.0}, {"S", 1.0},   {"MS", 1e-3}, {"US", 1e-6}};
  for (const auto& [name, factor] : kUnits) {
    if (unit == name) return value * factor;
  }
  return std::nullopt;
}

}  // namespace

// ---- ScpiCall ---------------------------------------------------------------

ScpiCall::ScpiCall(ScpiInstrument& instrument, bool query, std::vector<int> suffixes,
                   std::vector<std::string> choices, std::vector<std::string> params,
                   std::string rawParams)
    : instrument_(instrument),
      query_(query),
      suffixes_(std::move(suffixes)),
      choices_(std::move(choices)),
      params_(std::move(params)),
      rawParams_(std::move(rawParams)) {}

int ScpiCall::Suffix(size_t i) const { return i < suffixes_.size() ? suffixes_[i] : 1; }

const std::string& ScpiCall::Choice(size_t i) const {
  static const std::string kNone;
  return i < choices_.size() ? choices_[i] : kNone;
}

std::optional<std::string> ScpiCall::Text(size_t i) {
  if (i >= params_.size() || params_[i].empty()) {
    Error(scpi_error::kMissingParameter, "Missing parameter");
    return std::nullopt;
  }
  const std::string& p = params_[i];
  if (p.size() >= 2 && (p.front() == '"' || p.front() == '\'') && p.back() == p.front()) {
    const char quote = p.front();
    std::string out;
    for (size_t k = 1; k + 1 < p.size(); ++k) {
      out += p[k];
      if (p[k] == quote && k + 2 < p.size() && p[k + 1] == quote) ++k;  // doubled quote
    }
    return out;
  }
  return p;
}

std::optional<std::string> ScpiCall::Keyword(size_t i) {
  auto text = Text(i);
  if (!text) return std::nullopt;
  return Upper(*text);
}

std::optional<double> ScpiCall::Number(size_t i) {
  if (i >= params_.size() || params_[i].empty()) {
    Error(scpi_error::kMissingParameter, "Missing parameter");
    return std::nullopt;
  }
  auto value = ParseNumberWithUnit(params_[i]);
  if (!value) Error(scpi_error::kDataTypeError, "Data type error");
  return value;
}

std::optional<long> ScpiCall::Integer(size_t i) {
  const auto value = NumberIn(i, -2.0e9, 2.0e9);
  if (!value) return std::nullopt;
  return std::lround(*value);
}

template <typename T>
std::optional<T> ScpiCall::Within(std::optional<T> value, T low, T high) {
  if (!value || !InRange(*value, low, high)) return std::nullopt;
  return value;
}

std::optional<double> ScpiCall::NumberIn(size_t i, double low, double high) {
  return Within(Number(i), low, high);
}

std::optional<long> ScpiCall::IntegerIn(size_t i, long low, long high) {
  return Within(Integer(i), low, high);
}

void ScpiCall::OutOfRange() { Error(scpi_error::kDataOutOfRange, "Data out of range"); }

std::optional<bool> ScpiCall::Boolean(size_t i) {
  auto word = Keyword(i);
  if (!word) return std::nullopt;
  if (*word == "ON" || *word == "1") return true;
  if (*word == "OFF" || *word == "0") return false;
  Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
  return std::nullopt;
}

bool ScpiCall::AtMost(size_t count) {
  if (params_.size() <= count) return true;
  Error(scpi_error::kParameterNotAllowed, "Parameter not allowed");
  return false;
}

void ScpiCall::Reply(std::string text) {
  hasReply_ = true;
  reply_ = std::move(text);
}

void ScpiCall::Error(int code, std::string_view text) { instrument_.Errors().Push(code, text); }

void ScpiCall::DelayAnswer(int milliseconds) { delayMs_ = std::max(delayMs_, milliseconds); }

// ---- ScpiCommandTable -------------------------------------------------------

struct ScpiCommandTable::Entry {
  struct Word {
    std::string shortForm;  // upper case
    std::string longForm;   // upper case
  };
  struct Node {
    std::vector<Word> alternatives;
    bool optional = false;
    bool takesSuffix = false;
  };
  std::vector<Node> nodes;
  bool query = false;
  ScpiHandler handler;
};

ScpiCommandTable::ScpiCommandTable() = default;
ScpiCommandTable::~ScpiCommandTable() = default;

void ScpiCommandTable::Add(std::string_view pattern, ScpiHandler handler) {
  auto entry = std::make_unique<Entry>();
  entry->handler = std::move(handler);
  std::string_view p = pattern;
  if (!p.empty() && p.back() == '?') {
    entry->query = true;
    p.remove_suffix(1);
  }
  // Optional nodes are written "[:NODE]" or "[NODE]:"; "[:" becomes ":[" so
  // that every node lies between two colons.
  std::string flat(p);
  for (size_t at = flat.find("[:"); at != std::string::npos; at = flat.find("[:", at)) {
    flat.replace(at, 2, ":[");
  }
  for (std::string_view piece : SplitOutsideQuotes(flat, ':')) {
    if (piece.empty()) continue;
    Entry::Node node;
    std::string text(piece);
    if (text.front() == '[') {
      if (text.back() != ']') throw std::invalid_argument("unclosed [ in " + flat);
      node.optional = true;
      text = text.substr(1, text.size() - 2);
    }
    if (!text.empty() && text.back() == '#') {
      node.takesSuffix = true;
      text.pop_back();
    }
    for (std::string_view word : SplitOutsideQuotes(text, '|')) {
      if (word.empty()) throw std::invalid_argument("empty mnemonic in " + flat);
      Entry::Word w;
      bool inShort = true;
      for (char c : word) {
        const bool shortChar = !std::islower(static_cast<unsigned char>(c));
        inShort = inShort && shortChar;
        if (inShort) w.shortForm += c;
        w.longForm += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
      if (w.shortForm.empty()) w.shortForm = w.longForm;
      node.alternatives.push_back(std::move(w));
    }
    entry->nodes.push_back(std::move(node));
  }
  if (entry->nodes.empty()) throw std::invalid_argument("empty pattern");
  entries_.push_back(std::move(entry));
}

std::optional<ScpiCommandTable::Match> ScpiCommandTable::Find(const std::vector<std::string>& nodes,
                                                              bool query) const {
  std::vector<std::string> tokens;
  tokens.reserve(nodes.size());
  for (const auto& n : nodes) tokens.push_back(Upper(n));

  // Later entries win, so that a module may override an earlier handler.
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    const Entry& entry = **it;
    if (entry.query != query) continue;
    Match match;
    // Depth-first over the pattern nodes; optional nodes may be skipped.
    std::function<bool(size_t, size_t)> walk = [&](size_t pi, size_t ti) -> bool {
      if (pi == entry.nodes.size()) return ti == tokens.size();
      const Entry::Node& node = entry.nodes[pi];
      if (ti < tokens.size()) {
        const std::string& token = tokens[ti];
        // Split the suffix digits off where the node takes one.
        std::string name = token;
        int suffix = 1;
        bool hasSuffix = false;
        if (node.takesSuffix) {
          size_t d = name.size();
          while (d > 0 && std::isdigit(static_cast<unsigned char>(name[d - 1]))) --d;
          if (d < name.size() && d > 0) {
            const std::string digits = name.substr(d);
            if (digits.size() > 6) return false;
            suffix = std::stoi(digits);
            name.resize(d);
            hasSuffix = true;
          }
        }
        for (const auto& word : node.alternatives) {
          if (name != word.shortForm && name != word.longForm) continue;
          const size_t savedSuffixes = match.suffixes.size();
          const size_t savedChoices = match.choices.size();
          if (node.takesSuffix) match.suffixes.push_back(hasSuffix ? suffix : 1);
          if (node.alternatives.size() > 1) match.choices.push_back(word.longForm);
          if (walk(pi + 1, ti + 1)) return true;
          match.suffixes.resize(savedSuffixes);
          match.choices.resize(savedChoices);
        }
      }
      if (node.optional) {
        const size_t savedSuffixes = match.suffixes.size();
        const size_t savedChoices = match.choices.size();
        if (node.takesSuffix) match.suffixes.push_back(1);
        if (node.alternatives.size() > 1)
          match.choices.push_back(node.alternatives.front().longForm);
        if (walk(pi + 1, ti)) return true;
        match.suffixes.resize(savedSuffixes);
        match.choices.resize(savedChoices);
      }
      return false;
    };
    if (walk(0, 0)) {
      match.handler = &entry.handler;
      return match;
    }
  }
  return std::nullopt;
}

// ---- ErrorQueue -------------------------------------------------------------

void ErrorQueue::Push(int code, std::string_view text) {
  if (entries_.size() >= kCapacity) {
    entries_.back() = {scpi_error::kQueueOverflow, "Queue overflow"};
    return;
  }
  entries_.emplace_back(code, std::string(text));
}

std::string ErrorQueue::PopFormatted() {
  if (entries_.empty()) return "0,\"No error\"";
  auto [code, text] = std::move(entries_.front());
  entries_.pop_front();
  std::string quoted;
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return std::to_string(code) + ",\"" + quoted + "\"";
}

// ---- ScpiInstrument ---------------------------------------------------------

ScpiInstrument::ScpiInstrument(SimulatorModel& model) : model_(model) {}

void ScpiInstrument::ResetLab() {
  faults_ = LabFaults{};
  for (const auto& hook : labResetHooks_) hook();
}

// ---- ScpiSession ------------------------------------------------------------

namespace {

void SpoilAnswer(AnswerFault fault, ScpiSession::Outcome* outcome) {
  switch (fault) {
    case AnswerFault::None:
      break;
    case AnswerFault::Garbage: {
      // A fixed scramble of the answer: any byte but LF, as long as it.
      std::string garbage = outcome->answer;
      if (garbage.size() < 8) garbage.resize(8, '?');
      unsigned state = 0x9E3779B9u;
      for (char& c : garbage) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
        if (c == '\n') c = '\x7f';
      }
      outcome->answer = garbage;
      break;
    }
    case AnswerFault::NoLineFeed:
      outcome->noLineFeed = true;
      break;
    case AnswerFault::Extra:
      outcome->answer += "\n" + outcome->answer;
      break;
  }
}

}  // namespace

ScpiSession::Outcome ScpiSession::Execute(std::string_view message) {
  Outcome outcome;
  LabFaults& faults = instrument_.Faults();
  if (faults.dropAfterMessages > 0 && --faults.dropAfterMessages == 0) {
    faults.dropAfterMessages = -1;
    outcome.dropConnection = true;
    return outcome;
  }

  path_.clear();  // every message starts at the root
  std::vector<std::string> answers;
  bool emulatorMessage = false;
  for (std::string_view unit : SplitOutsideQuotes(message, ';')) {
    unit = Trim(unit);
    if (unit.empty()) continue;

    size_t headerEnd = 0;
    while (headerEnd < unit.size() && unit[headerEnd] != ' ' && unit[headerEnd] != '\t')
      ++headerEnd;
    std::string_view header = unit.substr(0, headerEnd);
    const std::string_view rest = Trim(unit.substr(headerEnd));

    if (!std::all_of(header.begin(), header.end(), IsHeaderChar)) {
      instrument_.Errors().Push(scpi_error::kInvalidCharacter, "Invalid character");
      continue;
    }
    const bool query = !header.empty() && header.back() == '?';
    if (query) header.remove_suffix(1);
    const bool common = !header.empty() && header.front() == '*';
    const bool absolute = !header.empty() && header.front() == ':';
    if (absolute) header.remove_prefix(1);

    std::vector<std::string> nodes;
    bool malformed = header.empty();
    size_t start = 0;
    while (!malformed && start <= header.size()) {
      size_t colon = header.find(':', start);
      if (colon == std::string_view::npos) colon = header.size();
      if (colon == start) malformed = true;
      nodes.emplace_back(header.substr(start, colon - start));
      start = colon + 1;
    }
    if (malformed || (common && nodes.size() != 1)) {
      instrument_.Errors().Push(scpi_error::kUndefinedHeader, "Undefined header");
      continue;
    }

    std::optional<ScpiCommandTable::Match> match;
    std::vector<std::string> resolved = nodes;
    if (!common && !absolute && !path_.empty()) {
      resolved = path_;
      resolved.insert(resolved.end(), nodes.begin(), nodes.end());
      match = instrument_.Commands().Find(resolved, query);
    }
    if (!match) {
      resolved = nodes;
      match = instrument_.Commands().Find(resolved, query);
    }
    if (!match) {
      instrument_.Errors().Push(scpi_error::kUndefinedHeader, "Undefined header");
      continue;
    }
    if (!common) path_.assign(resolved.begin(), resolved.end() - 1);

    std::vector<std::string> params;
    if (!rest.empty()) {
      for (std::string_view p : SplitOutsideQuotes(rest, ',')) params.emplace_back(Trim(p));
    }
    ScpiCall call(instrument_, query, std::move(match->suffixes), std::move(match->choices),
                  std::move(params), std::string(rest));
    (*match->handler)(call);

    const bool emulatorCommand = !common && Upper(resolved.front()).rfind("EMUL", 0) == 0;
    emulatorMessage = emulatorMessage || emulatorCommand;
    if (call.HasReply() && (!faults.silent || emulatorCommand)) {
      answers.push_back(call.ReplyText());
    }
    outcome.delayMs = std::max(outcome.delayMs, call.AnswerDelayMs());
  }
  if (faults.dropAllNow) {
    faults.dropAllNow = false;
    outcome.dropAll = true;
  }
  if (!answers.empty()) {
    outcome.hasAnswer = true;
    for (size_t i = 0; i < answers.size(); ++i) {
      if (i) outcome.answer += ';';
      outcome.answer += answers[i];
    }
    if (!emulatorMessage) SpoilAnswer(faults.answerFault, &outcome);
  }
  return outcome;
}

}  // namespace emu
