// The models the program knows, one row per model code (the settings
// object's modelType). Every per-model constant lives here; each user keeps
// its own way of comparing:
//
//   user                         reads                         compares
//   identification (update page) replyPrefix, queries, name    each prefix over its own length,
//                                                              in the order TK515, TK517,
//                                                              L4400C, L4500, TK511
//   update-file check            fileProductNames, name        prefix over each alias's length
//   Execute                      updateMethod, name,           the first five characters of the
//                                serialHardware,               name, the hardware over five,
//                                serialAboveFirmware           the firmware value above
//   flash download               flashSpeedCode,               by model code
//                                selfCheckDelayMs, finalTextId
//   main window                  banner                        by model code
//
//   code  name       model reply       file product names          queries  update    speed  check   final  banner
//   0     " "        -                 -                           none     flash     0      100 ms  411    plain
//   1     "TK-509"   -                 -                           none     flash     0      100 ms  411    plain
//   2     "TK-510"   -                 -                           none     flash     0      100 ms  411    plain
//   3     "L-731"    $PQVR852,TK511    L731, L-731, TK511          maker    flash     4      100 ms  411    model
//   4     "RVN-3"    $PQVR852,TK515    TK515, TK-515, TrekPal515   PQVR     flash     4      700 ms  446    model
//   5     "L-4400C"  $PQVR852,L4500    L4500, L-4500               PQVR     flash     6      450 ms  411    plain
//   6     "L-4400C"  $PQVR852,L4400C   L4400C, L-4400C             PQVR     flash     6      450 ms  411    plain
//   7     "ZEP ION"  $PQVR852,TK517    TK517, TK-517               PQVR     serial*   4      10 ms   446    model
//   * the serial update on hardware V04 above firmware 300, else the flash download
//
// Any code outside 0..7 reads as code 0. Plain C++, no state, thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace models {

// Which identification commands the model answers.
enum class Queries {
    None,   // no firmware or hardware query exists
    Maker,  // the maker's "$ORVIK731" commands
    Qvr,    // the "$PQVR" queries
};

enum class UpdateMethod {
    FlashDownload,
    SerialUpdateWhenNewer,  // serial update on serialHardware above serialAboveFirmware, else flash
};

enum class Banner { Plain, Model };

struct Model {
    int code = 0;
    const char* name = " ";            // the device type shown
    const char* replyPrefix = nullptr;  // the model reply that names it; null when none does
    std::array<const char*, 4> fileProductNames{};  // update-file product names read as name; null-ended
    Queries queries = Queries::None;
    UpdateMethod updateMethod = UpdateMethod::FlashDownload;
    const char* serialHardware = nullptr;
    int serialAboveFirmware = 0;
    Banner banner = Banner::Plain;
    std::uint32_t flashSpeedCode = 0;
    int selfCheckDelayMs = 100;
    int finalTextId = 411;
};

// The row of a model code; any code outside the table gives the row of 0.
const Model& ModelByCode(int code);
// Every row, by code from 0.
std::span<const Model> AllModels();

}  // namespace models
