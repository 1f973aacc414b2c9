// The system's callback table: every callback a panel resource may name in a
// control's "callback" property, and the panel contracts checked at load.
#include <iterator>

#include "app/GNSS_UI_MENU.h"
#include "app/LiveReceiverView.h"
#include "panels/GNSS_UI1_uir.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "panels/GNSS_UI_LIVE_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"

void RegisterSystemCallbacks() {
  static const CallbackEntry kCallbacks[] = {
      {"callbackExit", callbackExit},
      {"COMBO_RCVTYPE_CALLBK", COMBO_RCVTYPE_CALLBK},
      {"CMD_APPEND_EXTRAMSG", CMD_APPEND_EXTRAMSG},
      {"CMD_DEL_EXTRAMSG", CMD_DEL_EXTRAMSG},
      {"CMD_RECSAVE", CMD_RECSAVE},
      {"CMD_REREAD_INI", CMD_REREAD_INI},
      {"callbackRunTest000", callbackRunTest000},
      {"callbackRunTest001", callbackRunTest001},
      {"callbackRunTest003", callbackRunTest003},
      {"callbackRunTest004", callbackRunTest004},
      {"callbackRunTest009", callbackRunTest009},
      {"callbackRunTest010", callbackRunTest010},
      {"callbackRunTest011", callbackRunTest011},
      {"callbackRunTest012", callbackRunTest012},
      {"callbackRunTestSeq", callbackRunTestSeq},
      {"CALLBK_CMDABORT000", callbackAbortTest},
      {"CALLBK_CMDEXITTEST000", CALLBK_CMDEXITTEST000},
      {"CALLBK_CMDABORT009", callbackAbortTest},
      {"CALLBK_CMDEXITTEST009", callbackAbortTest},
      {"callbackOpenLiveView", callbackOpenLiveView},
      {"CMD_LIVE_RESCAN", CMD_LIVE_RESCAN},
      {"CMD_LIVE_OPEN", CMD_LIVE_OPEN},
      {"CMD_LIVE_CLOSE", CMD_LIVE_CLOSE},
      {"CMD_LIVE_COLDSTART", CMD_LIVE_COLDSTART},
      {"CMD_LIVE_INIT_GPS", CMD_LIVE_INIT_GPS},
      {"CMD_LIVE_INIT_GLN", CMD_LIVE_INIT_GLN},
      {"CMD_LIVE_DONE", CMD_LIVE_DONE},
  };
  RegisterCallbacks(kCallbacks, std::size(kCallbacks));
  RegisterPanelContract(kGnssUiMenuContract);
  RegisterPanelContract(kGnssUiLiveContract);
  RegisterPanelContract(kGnssUi1Contract);
  RegisterPanelContract(kGnssUiAutohoContract);
}
