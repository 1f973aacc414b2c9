// Fuzzes the parsing of instrument answers with every format the station
// reads them with. Text destinations are heap blocks of exactly the documented
// 1024 bytes, so that AddressSanitizer sees any write past them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/visa_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const auto text = std::make_unique<char[]>(kFormattedTextCapacity);

  // "%t" takes the whole answer, cut to 1023 bytes.
  if (ScanMessageF(answer, "%t", text.get()) != VI_SUCCESS) std::abort();
  const std::size_t kept = std::min(answer.size(), kFormattedTextCapacity - 1);
  if (std::memcmp(text.get(), answer.data(), kept) != 0 || text[kept] != '\0') std::abort();

  if (ScanMessageF(answer, "%s", text.get()) == VI_SUCCESS &&
      std::strlen(text.get()) >= kFormattedTextCapacity) {
    std::abort();
  }
  long integer = 0;
  float single = 0;
  double real = 0;
  int year = 0, month = 0, day = 0;
  ScanMessageF(answer, "%ld", &integer);
  ScanMessageF(answer, "%f", &single);
  ScanMessageF(answer, "%lf", &real);
  ScanMessageF(answer, "%d, %d, %d", &year, &month, &day);
  ScanMessageF(answer, "%d, %d, %f", &year, &month, &single);
  return 0;
}
