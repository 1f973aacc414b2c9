// CONFIG.INI between the file and the main panel, and the receiver profile
// editor on the RECEIVER page.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "app/GNSS_UI_MENU_ConfigFile.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/files.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "receiver/HexCommands.h"
#include "receiver/ReceiverProfile.h"
#include "state/StationState.h"

namespace {

// A file the station writes stays below 300 KB; reading stops far beyond that
// so that a stray huge file cannot hold up start-up.
constexpr std::size_t kConfigFileReadMax = 64u << 20;
constexpr std::size_t kConfigReadChunk = 64u << 10;

// Types below this one are used with the texts the defaults and the file give
// them; the editing group is shown from this type on.
constexpr int kFirstEditableReceiverType = 10;

constexpr int kBasicRowControls[kBasicRowFieldCount] = {
    BASIC_ITERATIONS, BASIC_NUM_GPS,  BASIC_PCODE,    BASIC_NUM_GAL,  BASIC_NUM_GLN,
    BASIC_MIN_SATS,   BASIC_GPS_SVID, BASIC_GAL_SVID, BASIC_GLN_SVID, BASIC_MAX_FIXTIME,
    BASIC_REF_LAT,    BASIC_REF_LON,  BASIC_REF_ALT,  BASIC_RADIUS,   BASIC_TOFFSET,
};
constexpr int kMovingRowControls[kMovingRowFieldCount] = {
    MOVING_DURATION,  MOVING_NUM_GPS,     MOVING_NUM_GAL,     MOVING_NUM_GLN,
    MOVING_MIN_SATS,  MOVING_GPS_SVIDS,   MOVING_GAL_SVIDS,   MOVING_GLN_SVIDS,
    MOVING_WAYPOINTS, MOVING_TIME_OFFSET, MOVING_IGNORE_TIME,
};

// The address of the last load survives into the next one; a file without a
// DUTIP line shows it again, whatever was typed since.
std::string LoadedAddress;

int TabPage(int page) {
  int handle = 0;
  GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, page, &handle);
  return handle;
}

int ShownReceiverType(int receiverPage) {
  int type = 0;
  GetCtrlVal(receiverPage, RCV_TYPE, &type);
  return type;
}

std::string ControlText(int panel, int control, std::size_t max) {
  std::string text;
  GetCtrlVal(panel, control, &text);
  if (text.size() > max) text.resize(max);
  return text;
}

void ReadRow(int page, const int* controls, const RowFieldKind* kinds, RowField* fields,
             std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    switch (kinds[i]) {
      case RowFieldKind::kInteger:
        GetCtrlVal(page, controls[i], &fields[i].integer);
        break;
      case RowFieldKind::kReal:
        GetCtrlVal(page, controls[i], &fields[i].real);
        break;
      case RowFieldKind::kText:
        fields[i].text = ControlText(page, controls[i], kConfigRowTextMax);
        break;
    }
  }
}

void WriteRow(int page, const int* controls, const RowFieldKind* kinds, const RowField* fields,
              std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!fields[i].present) continue;  // a short row leaves the rest alone
    switch (kinds[i]) {
      case RowFieldKind::kInteger:
        SetCtrlVal(page, controls[i], fields[i].integer);
        break;
      case RowFieldKind::kReal:
        SetCtrlVal(page, controls[i], fields[i].real);
        break;
      case RowFieldKind::kText:
        SetCtrlVal(page, controls[i], fields[i].text.c_str());
        break;
    }
  }
}

// At most this many bad tokens of one text are listed; the rest are counted.
constexpr std::size_t kHexWarningsPerText = 8;

// Warns, on stderr and in the standard-output window, about every token of a
// command text that is not a hexadecimal byte, with its position. The text is
// still stored as typed.
void WarnAboutNonHexTokens(const char* what, int type, std::string_view text) {
  const std::vector<HexTokenProblem> problems = FindNonHexTokens(text);
  for (std::size_t i = 0; i < problems.size() && i < kHexWarningsPerText; ++i) {
    StdErrWrite("gnss-station: warning: " + std::string(what) + " of receiver type " +
                std::to_string(type) + ": \"" + problems[i].token + "\" at character " +
                std::to_string(problems[i].position) +
                " is not a hexadecimal byte (0x and one or two hexadecimal digits); it is "
                "stored as typed but not sent as written\n");
  }
  if (problems.size() > kHexWarningsPerText) {
    StdErrWrite("gnss-station: warning: " + std::string(what) + " of receiver type " +
                std::to_string(type) + ": " +
                std::to_string(problems.size() - kHexWarningsPerText) +
                " more tokens that are not hexadecimal bytes\n");
  }
}

void WarnAboutProfileTexts(int type, const ReceiverProfile& profile) {
  WarnAboutNonHexTokens("cold start", type, profile.coldStart);
  WarnAboutNonHexTokens("GPS init", type, profile.gpsInit);
  WarnAboutNonHexTokens("GLONASS init", type, profile.glonassInit);
  WarnAboutNonHexTokens("additional commands", type, profile.extraCommands);
}

// The editor's working copy into a profile, the way the save button stores it.
void StoreEditorIntoProfile(int receiverPage, ReceiverProfile& profile) {
  profile.coldStart = ControlText(receiverPage, RCV_COLDSTART, kCommandTextMax);
  profile.gpsInit = ControlText(receiverPage, RCV_GPSINIT, kCommandTextMax);
  profile.glonassInit = ControlText(receiverPage, RCV_GLNINIT, kCommandTextMax);
  int count = 0;
  GetNumListItems(receiverPage, RCV_EXTRA_LIST, &count);
  std::string joined;
  for (int i = 0; i < count; ++i) {
    std::string item;
    GetLabelFromIndex(receiverPage, RCV_EXTRA_LIST, i, &item);
    if (i > 0) joined += ';';
    joined += item;
    if (joined.size() > kExtraCommandsMax) break;
  }
  if (joined.size() > kExtraCommandsMax) joined.resize(kExtraCommandsMax);
  profile.extraCommands = std::move(joined);
}

// Why the CONFIG.INI of the last load could not be read whole as text
// (empty when it could, or when there was none): a save keeps it aside first.
std::string UnreadableConfigReason;
bool SaveFailed = false;

// Bytes no text file holds: NUL and the control characters other than tab,
// line ends, vertical tab, form feed and the old end-of-file mark.
bool HoldsNonText(std::string_view piece) {
  return std::any_of(piece.begin(), piece.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\v' && b != '\f' &&
            b != 0x1A) ||
           b == 0x7F;
  });
}

// Reads the file into the load. Missing: read as empty. Standing but not
// readable whole as text (not a regular file, a read error, beyond the bound,
// bytes no text holds): what could be read is used, and the reason is
// returned.
std::string ReadConfigFile(const char* path, ConfigLoad& load) {
  bool nonText = false;
  int error = 0;
  const ReadOutcome outcome = ReadFileChunks(
      path, kConfigFileReadMax, kConfigReadChunk,
      [&](std::string_view piece) {
        nonText = nonText || HoldsNonText(piece);
        FeedConfigBytes(load, piece);
      },
      &error);
  FinishConfigBytes(load);  // a last line without its line end
  switch (outcome) {
    case ReadOutcome::kMissing:
      return {};
    case ReadOutcome::kNotRegular:
      return "it is not a regular file";
    case ReadOutcome::kFailed:
      return ErrnoText("reading it failed", error);
    case ReadOutcome::kCutAtBound:
      return "it is larger than " + std::to_string(kConfigFileReadMax >> 20) +
             " MiB; the rest was not read";
    case ReadOutcome::kComplete:
      break;
  }
  return nonText ? "it holds bytes that are not text" : std::string();
}

}  // namespace

// ---- CONFIG.INI -------------------------------------------------------------

void SaveConfig() {
  ConfigSettings settings;
  settings.address = ControlText(MainPanelHandle, MAIN_DUTIP, kConfigAddressMax);
  settings.levelOffset = ControlText(MainPanelHandle, MAIN_LEVEL_OFFSET, kConfigLevelOffsetMax);
  ReadRow(TabPage(kBasicPage), kBasicRowControls, kBasicRowKinds, settings.basic,
          kBasicRowFieldCount);
  ReadRow(TabPage(kMovingPage), kMovingRowControls, kMovingRowKinds, settings.moving,
          kMovingRowFieldCount);

  const std::string text = FormatConfigFile(settings, ReceiverProfiles);
  std::string kept;
  int error = 0;
  if (!UnreadableConfigReason.empty()) {
    error = MoveAside(kConfigFileName, &kept);
    if (error == ENOENT) error = 0;  // gone since: nothing to keep
    if (error != 0)
      StdErrReason(
          ErrnoText("CONFIG.INI could not be read at start-up and cannot be kept as "
                    "CONFIG.INI.bak; not saved",
                    error));
  }
  if (error == 0) error = WriteFileAtomically(kConfigFileName, text);
  if (error != 0) {
    SaveFailed = true;
    StdPrintf("Error: Could not save INI file (%d)!\n", 0);
    StdErrWrite(std::string("The following error occurred: ") + std::strerror(error) + "\n");
    return;
  }
  if (!kept.empty()) {
    StdErrReason("the CONFIG.INI that could not be read is kept as " + kept);
    UnreadableConfigReason.clear();
  }
}

bool ConfigSaveFailed() { return SaveFailed; }

void LoadConfig() {
  ConfigLoad load;
  load.settings.address = LoadedAddress;
  load.profiles = ReceiverProfiles;
  UnreadableConfigReason = ReadConfigFile(kConfigFileName, load);
  if (!UnreadableConfigReason.empty()) {
    StdErrReason("warning: CONFIG.INI cannot be read as text (" + UnreadableConfigReason +
                 "); settings it does not give keep their defaults, and a save keeps the "
                 "old file as CONFIG.INI.bak first");
  }
  LoadedAddress = load.settings.address;

  WriteRow(TabPage(kBasicPage), kBasicRowControls, kBasicRowKinds, load.settings.basic,
           kBasicRowFieldCount);
  WriteRow(TabPage(kMovingPage), kMovingRowControls, kMovingRowKinds, load.settings.moving,
           kMovingRowFieldCount);

  DisplayPanel(MainPanelHandle);
  SetCtrlVal(MainPanelHandle, MAIN_DUTIP, load.settings.address.c_str());
  SetCtrlVal(MainPanelHandle, MAIN_LEVEL_OFFSET, load.settings.levelOffset.c_str());

  // Type 0 is never left without texts: an empty one takes what the editor shows.
  const ReceiverProfile& first = ReceiverProfiles[0];
  if (first.coldStart.empty() && first.gpsInit.empty() && first.glonassInit.empty() &&
      first.extraCommands.empty()) {
    StoreEditorIntoProfile(TabPage(kReceiverPage), ReceiverProfiles[0]);
  }
  ShowReceiverProfile();
}

int CMD_REREAD_INI(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) LoadConfig();
  return 0;
}

// ---- Receiver profile editor ------------------------------------------------

void ShowReceiverProfile() {
  const int page = TabPage(kReceiverPage);
  const int type = ShownReceiverType(page);
  if (type < 0 || type >= kReceiverTypeCapacity) return;
  const ReceiverProfile& profile = ReceiverProfiles[type];
  ResetTextBox(page, RCV_COLDSTART, profile.coldStart.c_str());
  ResetTextBox(page, RCV_GPSINIT, profile.gpsInit.c_str());
  ResetTextBox(page, RCV_GLNINIT, profile.glonassInit.c_str());
  ClearListCtrl(page, RCV_EXTRA_LIST);
  const std::string_view extra = profile.extraCommands;
  std::string extraLines;  // the read-only view: one message per line
  std::size_t start = 0;
  while (start <= extra.size()) {
    const std::size_t end = std::min(extra.find(';', start), extra.size());
    if (end > start) {
      const std::string command(extra.substr(start, end - start));
      InsertListItem(page, RCV_EXTRA_LIST, -1, command.c_str());
      if (!extraLines.empty()) extraLines += '\n';
      extraLines += command;
    }
    start = end + 1;
  }
  ResetTextBox(page, RCV_VIEW_COLDSTART, profile.coldStart.c_str());
  ResetTextBox(page, RCV_VIEW_GPSINIT, profile.gpsInit.c_str());
  ResetTextBox(page, RCV_VIEW_GLNINIT, profile.glonassInit.c_str());
  ResetTextBox(page, RCV_VIEW_EXTRA, extraLines.c_str());
}

int COMBO_RCVTYPE_CALLBK(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT) return 0;
  ShowReceiverProfile();
  const int page = TabPage(kReceiverPage);
  const int type = ShownReceiverType(page);
  const int visible = type >= kFirstEditableReceiverType ? 1 : 0;
  for (const int control : kReceiverEditingGroup) {
    SetCtrlAttribute(page, control, ATTR_VISIBLE, visible);
  }
  // A built-in type shows what it will send, read-only, in place of the editor.
  SetCtrlAttribute(page, RCV_VIEW_GROUP, ATTR_VISIBLE, visible ? 0 : 1);
  // The test procedures index the table with it: only a type the table holds.
  if (type >= 0 && type < kReceiverTypeCount) SelectedReceiverType = type;
  return 0;
}

int CMD_APPEND_EXTRAMSG(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT) return 0;
  const int page = TabPage(kReceiverPage);
  const std::string command = ControlText(page, RCV_NEW_EXTRA, kSingleExtraCommandMax);
  WarnAboutNonHexTokens("new additional command", ShownReceiverType(page), command);
  InsertListItem(page, RCV_EXTRA_LIST, -1, command.c_str());
  ResetTextBox(page, RCV_NEW_EXTRA, "");
  return 0;
}

int CMD_DEL_EXTRAMSG(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT) return 0;
  const int page = TabPage(kReceiverPage);
  int index = -1;
  GetCtrlIndex(page, RCV_EXTRA_LIST, &index);
  if (index >= 0) DeleteListItem(page, RCV_EXTRA_LIST, index, 1);
  return 0;
}

int CMD_RECSAVE(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT) return 0;
  const int page = TabPage(kReceiverPage);
  const int type = ShownReceiverType(page);
  if (type >= 0 && type < kReceiverTypeCount) {
    StoreEditorIntoProfile(page, ReceiverProfiles[type]);
    WarnAboutProfileTexts(type, ReceiverProfiles[type]);
  }
  SaveConfig();
  return 0;
}
