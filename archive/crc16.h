// CRC-16/ARC, the checksum of member data and of level-2 headers: reflected polynomial
// 0xA001, initial value 0, no final XOR. The stub, the tool's reader and the packer
// share it.
#ifndef VORPANEX_ARCHIVE_CRC16_H
#define VORPANEX_ARCHIVE_CRC16_H

#include <stdint.h>

// Crc16Table[0] is the classic one-byte table; slice k advances a byte followed by k
// zero bytes, so that a block is folded eight bytes per step.
const unsigned CRC_SLICES = 8;
extern uint16_t Crc16Table[CRC_SLICES][256];
void BuildCrcTable();

// The CRC-16 of a block, continued from start.
uint16_t Crc16OfBlock(uint16_t start, const uint8_t* data, uint32_t count);

#endif
