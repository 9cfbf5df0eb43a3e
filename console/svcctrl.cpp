#include "console/svcctrl.h"

void StartServiceAndWait(TScManager&, const std::string&) {}

void StopServiceAndWait(TScManager&, const std::string&) {}

std::string ServiceStateText(uint32_t) { return "Service state unknown"; }
