// Dialog template 143: the logger settings page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template143();
}  // namespace res
