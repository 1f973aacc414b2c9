#include "platform/stdio.h"

int main(int, char**) {
  StdPrintf("gnss-station: start-up is not built yet\n");
  return 0;
}
