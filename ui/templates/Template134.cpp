#include "ui/templates/Template134.h"

namespace res {

const platform::DialogTemplate& Template134() {
    static const platform::DialogTemplate t{134, "", {0, 0, 320, 250}, platform::kChild, {}};
    return t;
}

}  // namespace res
