// Helpers of the traditional ZIP encryption that are worth testing on their own.
#pragma once

#include <cstdint>

// One random byte of a new encryption header, made from one rand() value: bits 6 to 13, or the
// low 8 bits when those are all 0.
uint8_t EncryptionHeaderByte(int randomValue);
