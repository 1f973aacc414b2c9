// Test 000: the basic localization test.
#include "platform/stdio.h"
#include "procedures/X47_GNSS.h"

void RunBasicTest() { StdWrite("Basic localization test: the test procedure is not built yet.\n"); }
