// The keyed byte cipher of the login challenge: a keystream from a 32-bit
// shift register whose feedback taps are the key, XORed with the data.
// Enciphering and deciphering are the same operation.
#pragma once
#include "core/types.h"

// Advances *state by 8 steps and returns byte XOR the register's low byte.
u8 encrypt(u8 byte, u32* state, u32 key);
