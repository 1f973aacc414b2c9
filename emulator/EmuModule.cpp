#include "EmuModule.h"

#include <algorithm>
#include <cstring>

namespace emu {

namespace {

// Filled during static initialisation, before main runs.
std::vector<EmuModuleFactory>& Factories() {
  static std::vector<EmuModuleFactory> factories;
  return factories;
}

}  // namespace

bool RegisterEmuModule(EmuModuleFactory factory) {
  Factories().push_back(std::move(factory));
  return true;
}

std::vector<std::unique_ptr<EmuModule>> CreateEmuModules() {
  std::vector<std::unique_ptr<EmuModule>> modules;
  for (const auto& factory : Factories()) modules.push_back(factory());
  std::sort(modules.begin(), modules.end(),
            [](const auto& a, const auto& b) { return std::strcmp(a->Name(), b->Name()) < 0; });
  return modules;
}

}  // namespace emu
