#include <cstdio>

int main() {
  std::puts("qarn-emu: not built yet");
  return 0;
}
