// Dialog template 136: the format conversion page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template136();
}  // namespace res
