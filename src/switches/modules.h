// The module entries, one per switch family, as the family table lists them.
#pragma once

#include "switches/switches.h"

// Cisco IOS Ethernet switch modules (family code 1).
int ciscoflash(const SwitchRequest* req, char* errText, int errTextSize);
// Brocade Fibre Channel switches running Fabric OS (family code 6).
int brocadeflash(const SwitchRequest* req, char* errText, int errTextSize);
// Topspin InfiniBand switch modules running TopspinOS (family code 7).
int topspinflash(const SwitchRequest* req, char* errText, int errTextSize);
