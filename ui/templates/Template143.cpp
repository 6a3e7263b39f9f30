#include "ui/templates/Template143.h"

namespace res {

const platform::DialogTemplate& Template143() {
    static const platform::DialogTemplate t{143, "", {0, 0, 320, 250}, platform::kChild, {}};
    return t;
}

}  // namespace res
