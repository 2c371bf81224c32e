#include "switches/switches.h"

#include <array>

#include "switches/modules.h"

namespace {

// Family code -> module entry; index 0 is unused. A null entry means the
// family's module is not part of the library yet.
constexpr std::array<ModuleEntry, 12> kModules = {
    nullptr,       // 0: no family
    ciscoflash,    // 1
    nullptr,       // 2: veltraflash
    nullptr,       // 3: nortelflash
    nullptr,       // 4: qlogicflash
    nullptr,       // 5: mcdataflash
    brocadeflash,  // 6
    topspinflash,  // 7
    nullptr,       // 8: intelflash
    nullptr,       // 9: ciscofcflash
    nullptr,       // 10: ibbridgeflash
    nullptr,       // 11: sasflash
};

}  // namespace

ModuleEntry switch_module_for(int switchType) {
  if (switchType < 1 || switchType >= static_cast<int>(kModules.size())) return nullptr;
  return kModules[static_cast<std::size_t>(switchType)];
}
