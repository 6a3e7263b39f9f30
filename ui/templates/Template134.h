// Dialog template 134: the waypoint page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template134();
}  // namespace res
