// ARC4 (RC4), the stream cipher the serial update carries its payload in.
//
// The standard cipher: the key schedule starts from i = j = 0 and the
// identity permutation, and each keystream byte steps i and j and swaps
// S[i] and S[j]. Encryption and decryption are the same XOR with the
// keystream. The cipher itself comes from the nettle library; these calls
// keep the state in one place and refuse keys that the cipher cannot take.
//
// One state runs through a whole transfer: every call continues the
// keystream where the previous one stopped.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nettle/arcfour.h>

struct Arc4State {
    arcfour_ctx ctx{};   // S, i, j
    bool keyed = false;  // Arc4Init succeeded
};

// Longest key that changes the schedule: the schedule reads key[k mod n] for
// k from 0 to 255 only, so the bytes after the 256th make no difference.
inline constexpr std::size_t kArc4MaxKeyBytes = 256;

// Key schedule. A key of length 0 (or a null key) is refused: the state is
// left unkeyed and the result is false. A key longer than 256 bytes acts as
// its first 256 bytes.
bool Arc4Init(Arc4State& state, const std::uint8_t* key, std::size_t keyLength);

// The next keystream byte; 0 from a state that was never keyed.
std::uint8_t Arc4NextByte(Arc4State& state);

// output[k] = input[k] XOR the next keystream byte, for length bytes. Output
// and input may be the same buffer. An unkeyed state copies input to output.
void Arc4Crypt(Arc4State& state, std::uint8_t* output, const std::uint8_t* input, std::size_t length);

// The same operation as Arc4Crypt, named for the receiving side.
void Arc4Decrypt(Arc4State& state, std::uint8_t* output, const std::uint8_t* input, std::size_t length);
