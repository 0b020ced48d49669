#include "program/cipher.h"

u8 encrypt(u8 byte, u32* state, u32 key) {
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
