// Stand-ins for the message pump, for measuring what the pump costs the extraction.
#include "handover/launch.h"
#include "package/busy.h"

void PumpMessages() {}
void WhileBusy() {}
