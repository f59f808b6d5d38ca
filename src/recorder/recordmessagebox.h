#pragma once

// Shows the recording engine's failure reports in message boxes titled
// "提示" (Ok button only). A box is shown, not waited for: the caller goes on
// at once, so whoever reports never runs inside the box's event loop. Does
// nothing when a handler is already set, unless replace is true.
void installRecordMessageBoxes(bool replace = false);
