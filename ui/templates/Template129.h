// Dialog template 129: the GPS status page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template129();
}  // namespace res
