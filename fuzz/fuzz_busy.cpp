// The fuzz builds compile the decoder alone, without the preparing window it keeps painted.
#include "package/busy.h"

void WhileBusy() {}
