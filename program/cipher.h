// The keyed byte cipher of the login challenge: a keystream from a 32-bit
// shift register whose feedback taps are the key, XORed with the data.
// Enciphering and deciphering are the same operation.
#pragma once
#include "core/types.h"

// Advances *state by 8 steps and returns byte XOR the register's low byte.
// Header-only so the client library shares it without linking the controller.
inline u8 encrypt(u8 byte, u32* state, u32 key) {
  u32 s = *state;
  for (int i = 0; i < 8; ++i) {
    u32 x = s & key;
    x ^= x >> 1;
    x ^= x >> 2;
    x ^= x >> 4;
    x ^= x >> 8;
    x ^= x >> 16;
    s = (s << 1) | (x & 1u);
  }
  *state = s;
  return u8(s ^ byte);
}
