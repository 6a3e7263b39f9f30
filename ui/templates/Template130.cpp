#include "ui/templates/Template130.h"

namespace res {

const platform::DialogTemplate& Template130() {
    static const platform::DialogTemplate t{130, "", {0, 0, 320, 250}, platform::kChild, {}};
    return t;
}

}  // namespace res
