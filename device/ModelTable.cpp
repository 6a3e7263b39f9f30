#include "device/ModelTable.h"

namespace models {
namespace {

constexpr int kTextDone = 411;
constexpr int kTextDoneUnplug = 446;

constexpr std::array<Model, 8> kModels{{
    {0, " ", nullptr, {}, Queries::None, UpdateMethod::FlashDownload, nullptr, 0, Banner::Plain, 0, 100, kTextDone},
    {1, "TK-509", nullptr, {}, Queries::None, UpdateMethod::FlashDownload, nullptr, 0, Banner::Plain, 0, 100,
     kTextDone},
    {2, "TK-510", nullptr, {}, Queries::None, UpdateMethod::FlashDownload, nullptr, 0, Banner::Plain, 0, 100,
     kTextDone},
    {3, "L-731", "$PQVR852,TK511", {"L731", "L-731", "TK511", nullptr}, Queries::Maker, UpdateMethod::FlashDownload,
     nullptr, 0, Banner::Model, 4, 100, kTextDone},
    {4, "RVN-3", "$PQVR852,TK515", {"TK515", "TK-515", "TrekPal515", nullptr}, Queries::Qvr,
     UpdateMethod::FlashDownload, nullptr, 0, Banner::Model, 4, 700, kTextDoneUnplug},
    {5, "L-4400C", "$PQVR852,L4500", {"L4500", "L-4500", nullptr, nullptr}, Queries::Qvr,
     UpdateMethod::FlashDownload, nullptr, 0, Banner::Plain, 6, 450, kTextDone},
    {6, "L-4400C", "$PQVR852,L4400C", {"L4400C", "L-4400C", nullptr, nullptr}, Queries::Qvr,
     UpdateMethod::FlashDownload, nullptr, 0, Banner::Plain, 6, 450, kTextDone},
    {7, "ZEP ION", "$PQVR852,TK517", {"TK517", "TK-517", nullptr, nullptr}, Queries::Qvr,
     UpdateMethod::SerialUpdateWhenNewer, "V04", 300, Banner::Model, 4, 10, kTextDoneUnplug},
}};

}  // namespace

const Model& ModelByCode(int code) {
    return (code >= 0 && code < static_cast<int>(kModels.size())) ? kModels[static_cast<std::size_t>(code)]
                                                                  : kModels[0];
}

std::span<const Model> AllModels() { return kModels; }

}  // namespace models
