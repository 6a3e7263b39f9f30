// Dialog template 130: the track-log setting page. It holds no controls yet.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template130();
}  // namespace res
