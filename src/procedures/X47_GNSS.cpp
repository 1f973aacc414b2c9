// The tests that connect and record the simulator like the others but have
// no procedure of their own.
#include "procedures/X47_GNSS.h"

void RunCarrierPhaseTest() {}
void RunRelativePowerTest() {}
void RunAutoHoTest() {}
void RunAbsolutePowerTest() {}
void RunSemiAutoTest() {}
