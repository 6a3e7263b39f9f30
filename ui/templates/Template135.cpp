#include "ui/templates/Template135.h"

namespace res {

const platform::DialogTemplate& Template135() {
    static const platform::DialogTemplate t{135, "", {0, 0, 276, 166}, platform::kChild, {}};
    return t;
}

}  // namespace res
