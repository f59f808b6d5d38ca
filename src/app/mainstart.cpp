// Entry of taviMainLib: the one exported symbol.

#include "app/app.h"
#include "base/allocator.h"
#include "net/logindlg.h"
#include "ui/accessiblekit.h"
#include "ui/focusring.h"

extern "C" __attribute__((visibility("default"))) int mainStart()
{
    tavi::keepLargeBlocksMapped();
    // Before the first window: readers and the keyboard see every control.
    AccessibleKitButton::install();
    FocusRing::install();
    // Lives until the process ends.
    auto *controller = new app();
    controller->loginDialog()->show();
    return 0;
}
