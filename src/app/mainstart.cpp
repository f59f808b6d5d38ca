// Entry of taviMainLib: the one exported symbol.

#include "app/app.h"
#include "net/logindlg.h"

extern "C" __attribute__((visibility("default"))) int mainStart()
{
    // Lives until the process ends.
    auto *controller = new app();
    controller->loginDialog()->show();
    return 0;
}
