// The system's callback table: every callback a panel resource may name in a
// control's "callback" property, and the panel contracts checked at load.
#include <iterator>

#include "app/GNSS_UI_MENU.h"
#include "platform/ui.h"
#include "ui/GNSS_UI_MENU.h"

void RegisterSystemCallbacks() {
  static const CallbackEntry kCallbacks[] = {
      {"callbackExit", callbackExit},
      {"COMBO_RCVTYPE_CALLBK", COMBO_RCVTYPE_CALLBK},
      {"CMD_APPEND_EXTRAMSG", CMD_APPEND_EXTRAMSG},
      {"CMD_DEL_EXTRAMSG", CMD_DEL_EXTRAMSG},
      {"CMD_RECSAVE", CMD_RECSAVE},
      {"CMD_REREAD_INI", CMD_REREAD_INI},
  };
  RegisterCallbacks(kCallbacks, std::size(kCallbacks));
  RegisterPanelContract(kGnssUiMenuContract);
}
