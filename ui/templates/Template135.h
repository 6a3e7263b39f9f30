// Dialog template 135: the photo link page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template135();
}  // namespace res
