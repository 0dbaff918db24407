#include "resources/resources.h"

#include <QtCore/qglobal.h>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerVelkorAssets()
{
    Q_INIT_RESOURCE(velkor_assets);
}

namespace velkor {

void initResources()
{
    static std::once_flag once;
    std::call_once(once, registerVelkorAssets);
}

} // namespace velkor
