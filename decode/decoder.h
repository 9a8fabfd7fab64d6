// Decoder for "-lh4-" to "-lh7-" members: bit input, Huffman tables and the block
// decoder. Compressed bytes come from archiveReader while
// extractionState.packedRemaining allows; output goes to the caller's window buffer.
#ifndef VORPANEX_DECODE_DECODER_H
#define VORPANEX_DECODE_DECODER_H

#include <stdint.h>

// Prepares a new member: method is the fourth character of its method id.
void BeginDecode(int method);

// Produces the member's next count bytes (1 to 32768) in the window buffer and returns
// where they start. buffer is the window, the same for every call of a member: for
// -lh4- to -lh6- the chunk is buffer[0..count-1] (32 KiB of window); for -lh7- the
// buffer holds LARGE_WINDOW_SIZE bytes and the chunks fill its halves in turn. Every
// call but a member's last asks for 32768 bytes.
const uint8_t* DecodeChunk(uint32_t count, uint8_t* buffer);

// Non-zero once the current member's data was found outside the format's limits (the
// rest of the member then decodes as zero bytes), or its decoding took bits beyond
// the member's packed data (a stream that claims more output than it holds).
int DecodeSawBadData();

#endif
