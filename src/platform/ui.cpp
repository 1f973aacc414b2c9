// Placeholder until the Qt panel layer lands.
#include "platform/ui.h"
#include "platform/stdio_window.h"

int ProcessSystemEvents() { return 0; }
void StdioWindowAppend(std::string_view) {}
