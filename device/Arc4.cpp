#include "device/Arc4.h"

#include <algorithm>
#include <cstring>

bool Arc4Init(Arc4State& state, const std::uint8_t* key, std::size_t keyLength) {
    state = Arc4State{};
    if (key == nullptr || keyLength == 0) {
        return false;
    }
    nettle_arcfour_set_key(&state.ctx, std::min(keyLength, kArc4MaxKeyBytes), key);
    state.keyed = true;
    return true;
}

std::uint8_t Arc4NextByte(Arc4State& state) {
    const std::uint8_t zero = 0;
    std::uint8_t out = 0;
    Arc4Crypt(state, &out, &zero, 1);
    return out;
}

void Arc4Crypt(Arc4State& state, std::uint8_t* output, const std::uint8_t* input, std::size_t length) {
    if (length == 0 || output == nullptr || input == nullptr) {
        return;
    }
    if (!state.keyed) {
        if (output != input) {
            std::memmove(output, input, length);
        }
        return;
    }
    nettle_arcfour_crypt(&state.ctx, length, output, input);
}

void Arc4Decrypt(Arc4State& state, std::uint8_t* output, const std::uint8_t* input, std::size_t length) {
    Arc4Crypt(state, output, input, length);
}
