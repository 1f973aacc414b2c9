// Test 001: the moving receiver test.
#include "platform/stdio.h"
#include "procedures/X47_GNSS.h"

void RunMovingReceiverTest() {
  StdWrite("Moving receiver test: the test procedure is not built yet.\n");
}
