// Temporary: lets the station link until the configuration file and the
// receiver profile editor land. Compiles to nothing once they exist.
#if !__has_include("app/GNSS_UI_MENU_Config.cpp")
#include "app/GNSS_UI_MENU.h"

void ShowReceiverProfile() {}
void LoadConfig() {}
void SaveConfig() {}
#define PENDING_CALLBACK(name) \
  int name(int, int, int, void*, int, int) { return 0; }
PENDING_CALLBACK(COMBO_RCVTYPE_CALLBK)
PENDING_CALLBACK(CMD_APPEND_EXTRAMSG)
PENDING_CALLBACK(CMD_DEL_EXTRAMSG)
PENDING_CALLBACK(CMD_RECSAVE)
PENDING_CALLBACK(CMD_REREAD_INI)
#endif
