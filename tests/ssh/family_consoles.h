// The families' SSH consoles on one real sshd: each family that offers SSH
// plays its normal update (switchtest::kFamilies) on a port of its own,
// counted from a first port in the order of that table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/sshd_server.h"
#include "switches/families.h"

namespace sshtest {

using switchtest::FamilyRow;

// Veltra's menu console has no SSH.
inline bool offersSsh(const FamilyRow& f) { return std::string_view(f.family) != "veltra"; }

// The port of the family's console (0: no such family).
inline int portOf(std::string_view family, int firstPort) {
  int port = firstPort;
  for (const FamilyRow& f : switchtest::kFamilies) {
    if (family == f.family) return port;
    ++port;
  }
  return 0;
}

// The family's row (the first one for an unknown name).
inline const FamilyRow& familyRow(std::string_view family) {
  for (const FamilyRow& f : switchtest::kFamilies) {
    if (family == f.family) return f;
  }
  return switchtest::kFamilies[0];
}

// One console per family that offers SSH, each playing the family's normal
// update; faults: each session reads its fault as it starts.
inline std::vector<testsupport::SshdConsole> familyConsoles(int firstPort, bool faults) {
  std::vector<testsupport::SshdConsole> consoles;
  for (const FamilyRow& f : switchtest::kFamilies) {
    if (!offersSsh(f)) continue;
    consoles.push_back({.port = portOf(f.family, firstPort),
                        .scenario_file = std::string(f.family) + "/" + f.scenario,
                        .faults = faults});
  }
  return consoles;
}

}  // namespace sshtest
