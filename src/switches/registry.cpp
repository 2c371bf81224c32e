#include "switches/switches.h"

#include <array>

#include "switches/modules.h"

namespace {

// Family code -> module entry; index 0 is unused. A null entry would mean
// that the family's module is not part of the library (yet).
constexpr std::array<ModuleEntry, 12> kModules = {
    nullptr,       // 0: no family
    ciscoflash,    // 1
    veltraflash,   // 2
    nortelflash,   // 3
    qlogicflash,   // 4
    mcdataflash,   // 5
    brocadeflash,  // 6
    topspinflash,  // 7
    intelflash,    // 8
    ciscofcflash,  // 9
    ibbridgeflash, // 10
    sasflash,      // 11
};

}  // namespace

ModuleEntry switch_module_for(int switchType) {
  if (switchType < 1 || switchType >= static_cast<int>(kModules.size())) return nullptr;
  return kModules[static_cast<std::size_t>(switchType)];
}
