// Entry of taviMainLib: the one exported symbol.

#include "app/app.h"
#include "base/allocator.h"
#include "net/logindlg.h"

extern "C" __attribute__((visibility("default"))) int mainStart()
{
    tavi::keepLargeBlocksMapped();
    // Lives until the process ends.
    auto *controller = new app();
    controller->loginDialog()->show();
    return 0;
}
