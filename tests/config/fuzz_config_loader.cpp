// libFuzzer target for CONFIG.INI's text handling. Besides surviving any
// bytes under the sanitizers, a load must not depend on how the file arrives
// in reads, must keep every limit, and what it read must come back unchanged
// through a save and a reload (line ends inside values become blanks).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/GNSS_UI_MENU_ConfigFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Blanked(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

bool SameProfile(const ReceiverProfile& a, const ReceiverProfile& b) {
  return a.coldStart == b.coldStart && a.gpsInit == b.gpsInit && a.glonassInit == b.glonassInit &&
         a.extraCommands == b.extraCommands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  static ReceiverProfile whole[kReceiverTypeCapacity];
  static ReceiverProfile pieces[kReceiverTypeCapacity];
  static ReceiverProfile reloaded[kReceiverTypeCapacity];
  for (int t = 0; t < kReceiverTypeCapacity; ++t) whole[t] = pieces[t] = reloaded[t] = {};

  ConfigLoad a;
  a.profiles = whole;
  FeedConfigBytes(a, bytes);
  FinishConfigBytes(a);

  // The same bytes in reads of 1 to 16 bytes, sizes drawn from the input.
  ConfigLoad b;
  b.profiles = pieces;
  for (std::size_t pos = 0, step = 0; pos < size; pos += step) {
    step = 1 + (data[pos] & 0x0F);
    FeedConfigBytes(b, bytes.substr(pos, step));
  }
  FinishConfigBytes(b);

  Check(a.settings.address == b.settings.address);
  Check(a.settings.levelOffset == b.settings.levelOffset);
  for (int t = 0; t < kReceiverTypeCapacity; ++t) Check(SameProfile(whole[t], pieces[t]));

  Check(a.settings.address.size() <= kConfigAddressMax);
  Check(!a.settings.levelOffset.empty() && a.settings.levelOffset.size() <= kConfigLevelOffsetMax);
  for (int t = 0; t < kReceiverTypeCount; ++t) {
    Check(whole[t].coldStart.size() <= kCommandTextMax);
    Check(whole[t].gpsInit.size() <= kCommandTextMax);
    Check(whole[t].glonassInit.size() <= kCommandTextMax);
    Check(whole[t].extraCommands.size() <= kConfigLineMax);
  }
  for (int t = kReceiverTypeCount; t < kReceiverTypeCapacity; ++t) {
    Check(SameProfile(whole[t], ReceiverProfile{}));
  }

  const std::string text = FormatConfigFile(a.settings, whole);
  ConfigLoad c;
  c.profiles = reloaded;
  FeedConfigBytes(c, text);
  FinishConfigBytes(c);
  Check(c.settings.address == Blanked(a.settings.address));
  Check(c.settings.levelOffset == Blanked(a.settings.levelOffset));
  for (int t = 0; t < kReceiverTypeCapacity; ++t) {
    ReceiverProfile expected = whole[t];
    expected.coldStart = Blanked(expected.coldStart);
    expected.gpsInit = Blanked(expected.gpsInit);
    expected.glonassInit = Blanked(expected.glonassInit);
    expected.extraCommands = Blanked(expected.extraCommands);
    Check(SameProfile(reloaded[t], expected));
  }
  for (std::size_t i = 0; i < kBasicRowFieldCount; ++i) {
    Check(c.settings.basic[i].integer == a.settings.basic[i].integer);
    Check(c.settings.basic[i].text == Blanked(a.settings.basic[i].text));
  }
  // Four long texts can make the written MOVING row longer than a reload reads;
  // the basic row's six integers and three texts always fit.
  const std::size_t movingKey = text.rfind("\r\nMOVING=") + 2;
  const std::size_t movingValue = text.size() - 2 - (movingKey + 7);
  if (movingValue > kConfigRowValueMax) return 0;
  for (std::size_t i = 0; i < kMovingRowFieldCount; ++i) {
    Check(c.settings.moving[i].integer == a.settings.moving[i].integer);
    Check(c.settings.moving[i].text == Blanked(a.settings.moving[i].text));
  }
  return 0;
}
