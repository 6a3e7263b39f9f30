#include "ui/templates/Template129.h"

namespace res {

const platform::DialogTemplate& Template129() {
    static const platform::DialogTemplate t{129, "", {0, 0, 320, 250}, platform::kChild, {}};
    return t;
}

}  // namespace res
