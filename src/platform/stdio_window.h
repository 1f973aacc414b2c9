// The GUI side of the standard-output window (internal to platform/).
#pragma once

#include <string_view>

// Appends text to the "Standard I/O" window when the GUI shows one; does
// nothing headless or before the window exists.
void StdioWindowAppend(std::string_view text);
