// Long loops call WhileBusy now and then (every few kilobytes, never per byte) so that the
// preparing window keeps painting; it returns at once when nothing is waiting.
#pragma once

void WhileBusy();
