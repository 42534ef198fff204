#include "resourceinit.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE declares the registration function, so it must be used
// outside any namespace.
static void registerQuillonResources()
{
    Q_INIT_RESOURCE(images);
    Q_INIT_RESOURCE(quillon_translations);
}

namespace Quillon {

void initResources()
{
    static std::once_flag once;
    std::call_once(once, registerQuillonResources);
}

} // namespace Quillon
