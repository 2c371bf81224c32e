// The module entries, one per switch family, as the family table lists them.
#pragma once

#include "switches/switches.h"

// Cisco IOS Ethernet switch modules (family code 1).
int ciscoflash(const SwitchRequest* req, char* errText, int errTextSize);
// QLogic Fibre Channel switches (family code 4).
int qlogicflash(const SwitchRequest* req, char* errText, int errTextSize);
// McData Fibre Channel switches (family code 5).
int mcdataflash(const SwitchRequest* req, char* errText, int errTextSize);
// Brocade Fibre Channel switches running Fabric OS (family code 6).
int brocadeflash(const SwitchRequest* req, char* errText, int errTextSize);
// Veltra menu-console switch modules (family code 2).
int veltraflash(const SwitchRequest* req, char* errText, int errTextSize);
// Intel switch modules with nested transfer modes (family code 8).
int intelflash(const SwitchRequest* req, char* errText, int errTextSize);
// SAS switch modules and their storage modules (family code 11).
int sasflash(const SwitchRequest* req, char* errText, int errTextSize);
// InfiniBand bridge modules (family code 10).
int ibbridgeflash(const SwitchRequest* req, char* errText, int errTextSize);
// Nortel Ethernet switch modules (family code 3).
int nortelflash(const SwitchRequest* req, char* errText, int errTextSize);
// Cisco Fibre Channel switch modules (family code 9).
int ciscofcflash(const SwitchRequest* req, char* errText, int errTextSize);
// Topspin InfiniBand switch modules (family code 7).
int topspinflash(const SwitchRequest* req, char* errText, int errTextSize);
