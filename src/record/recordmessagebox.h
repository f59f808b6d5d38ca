#pragma once

// Shows the recording engine's failure reports in message boxes titled
// "提示" (Ok button only). Does nothing when a handler is already set,
// unless replace is true.
void installRecordMessageBoxes(bool replace = false);
