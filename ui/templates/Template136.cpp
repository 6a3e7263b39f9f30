#include "ui/templates/Template136.h"

namespace res {

const platform::DialogTemplate& Template136() {
    static const platform::DialogTemplate t{136, "", {0, 0, 320, 250}, platform::kChild, {}};
    return t;
}

}  // namespace res
