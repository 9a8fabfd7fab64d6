// The archive format in one place: the facts that the reader, the decoder, the encoder,
// the stub and the tool share.
//
// Format notes
//   A setup is the stub, ARCHIVE_OFFSET bytes long, then the archive. The archive is a
//   sequence of members, then one 0 byte (the end marker); the end of the file in its
//   place ends the sequence too. Multi-byte fields are little-endian.
//
//   Member headers. Every header starts with the same fields (offsets from the header's
//   first byte; headerBuffer holds the header from its third byte on):
//
//   byte  headerBuffer  width  field
//   0     -             1      level 0/1: headerSize, bytes after the first two
//   1     -             1      level 0/1: headerSum, low 8 bits of their sum
//   0     -             2      level 2: size of the whole header, extended headers too
//   2     0             5      method id "-lh0-", "-lh4-" to "-lh7-", "-lhd-"
//   7     5             4      packed size
//   11    9             4      original size
//   15    13            4      level 0/1: MS-DOS time, then date (local); level 2:
//                              Unix time (UTC seconds)
//   19    17            1      attribute
//   20    18            1      header level: 0, 1 or 2
//
//   Level 0: name length L, name (folders separated by '\' or '/'), CRC-16; the bytes
//     after that up to headerSize are skipped by the stub (the tool reads a Unix
//     extension there, below). No extended headers. The packed size
//     is the data.
//   Level 1: name length L, name, CRC-16 (at headerSize - 5), OS id, size of the first
//     extended header (at headerSize - 2). The extended headers come after the
//     header and count in the packed size.
//   Level 2: CRC-16, OS id, size of the first extended header (the base header is 26
//     bytes); the extended headers are part of the header, not of the packed size.
//   Extended header of size S (S >= 2): type byte, S - 3 bytes, size of the next (0 =
//     last). Types read: 0x00 CRC-16 of the whole header (taken with this field as
//     zero; checked at level 2), 0x01 file name, 0x02 folder (components separated by 0xFF, '\' or '/'),
//     0x42 64-bit sizes (packed, then original: 8 bytes each, in place of the base
//     header's; level 2 only, a level-1 header must repeat its 32-bit sizes there),
//     0x50 Unix permission bits and 0x54 Unix time (the tool); every other type is
//     skipped.
//   Member paths are kept with '/' between folder components and the name.
//
//   Compressed data ("-lh4-" to "-lh7-"), read most significant bit first: LZSS over a
//   window of WINDOW_SIZE bytes (LARGE_WINDOW_SIZE for -lh7-; the packer's -lh5- looks
//   back LH5_WINDOW_SIZE) with static Huffman codes sent anew in every block. A member
//   is a sequence of blocks, no end marker, no byte alignment inside it; zero bits pad
//   the last byte. One block:
//     16 bits  number of literal/length symbols in the block; 0 means 2^32 - 1 symbols,
//              i.e. the block's codes last to the member's end (the packer writes
//              1..MAX_BLOCK_SYMBOLS)
//     length code (LENGTH_CODE_SYMBOLS): 5-bit count n, then n lengths; after the third
//              one a 2-bit count of further zero lengths
//     literal/length code (LITERAL_LENGTH_SYMBOLS): 9-bit count n, then n lengths
//              coded with the length code: 0 one zero length; 1 + 4 bits a run of
//              3..18 zeros; 2 + 9 bits a run of 20..531 zeros; 3..18 the length
//              symbol - 2
//     distance code, per method: -lh4-/-lh5- LH5_DISTANCE_CODES symbols and a 4-bit
//              count, -lh6- LH6_DISTANCE_CODES and -lh7- LH7_DISTANCE_CODES with a
//              5-bit count; n lengths, no zero run
//     the symbols: 0..255 literal bytes, 256..509 a match of symbol - MATCH_BASE bytes
//              (MIN_MATCH..MAX_MATCH), followed by a distance symbol c: the value c for
//              c < 2, else 2^(c-1) + (c - 1) more bits; the match copies from value + 1
//              bytes back
//   A count of 0 is followed by one symbol of count width: a one-symbol code whose
//   symbol takes no bits. A length in a length list is 3 bits v (0..6), or 7 followed by
//   k one-bits and a zero-bit for 7 + k (at most MAX_CODE_LENGTH). Codes are canonical:
//   by increasing length, then increasing symbol, each code starting where the
//   previous one ends, the first at 0; a valid set is complete (the sum of 2^-L over
//   the used symbols is exactly 1).
#ifndef VORPANEX_ARCHIVE_FORMAT_H
#define VORPANEX_ARCHIVE_FORMAT_H

#include <stdint.h>

// --- the setup ---

// The stub's size: where the archive starts. The tool's help texts print it as
// ARCHIVE_OFFSET_TEXT.
#define ARCHIVE_OFFSET_BYTES 49152
const uint32_t ARCHIVE_OFFSET = ARCHIVE_OFFSET_BYTES;
#define FORMAT_TEXT_(number) #number
#define FORMAT_TEXT(number) FORMAT_TEXT_(number)
#define ARCHIVE_OFFSET_TEXT FORMAT_TEXT(ARCHIVE_OFFSET_BYTES)

// The programs the stub runs from the work directory, in order of preference.
const int SETUP_FILE_COUNT = 2;
const char* const SETUP_NAMES[SETUP_FILE_COUNT] = {"SETUP32.EXE", "SETUP.EXE"};
const char LONGEST_SETUP_NAME[] = "SETUP32.EXE";

// --- method ids: the fourth byte of "-lh?-" ---

const char METHOD_STORED = '0';
const char METHOD_LH5 = '5';
const char METHOD_LH6 = '6';
const char METHOD_LH7 = '7';
const char METHOD_FOLDER = 'd';

// --- headers ---

const unsigned HEADER_BUFFER_SIZE = 256;   // 255 header bytes and a terminator
const unsigned HEADER_FIXED_SIZE = 25;     // level-1 headerSize with an empty name
const unsigned LEVEL0_FIXED_SIZE = 22;     // level-0 headerSize with an empty name
const unsigned LEVEL2_BASE_SIZE = 26;      // level-2 header without extended headers
// The Unix extension after a level-0 header's CRC-16: 'U', a version byte, the time
// (4 bytes), the permission bits (2), user and group ids (2 each). Where the time and
// the permission bits end, from the extension's start.
const unsigned LEVEL0_UNIX_TIME_END = 6;
const unsigned LEVEL0_UNIX_MODE_END = 8;

// --- compressed data ---

const uint32_t WINDOW_SIZE = 32768;        // the chunk size; the window of -lh4- to -lh6-
const uint32_t LARGE_WINDOW_SIZE = 65536;  // the window of -lh7-
const uint32_t LH5_WINDOW_SIZE = 8192;     // the distances -lh5- can send

const int MIN_MATCH = 3;
const int MAX_MATCH = 256;
const int MATCH_BASE = 256 - MIN_MATCH;    // a match symbol minus this is its length
const int LITERAL_LENGTH_SYMBOLS = 256 + MAX_MATCH - MIN_MATCH + 1;
const int LENGTH_CODE_SYMBOLS = 19;
const int MAX_CODE_LENGTH = 16;
const uint32_t MAX_BLOCK_SYMBOLS = 65535;

const int LH5_DISTANCE_CODES = 14;         // -lh4- and -lh5-: distances below 8192
const int LH6_DISTANCE_CODES = 16;         // below 32768
const int LH7_DISTANCE_CODES = 17;         // below 65536
const int MAX_DISTANCE_CODES = LH7_DISTANCE_CODES;
const int LH5_DISTANCE_COUNT_BITS = 4;
const int WIDE_DISTANCE_COUNT_BITS = 5;    // -lh6- and -lh7-

// --- paths below the work directory ---

// Every path formed for a member, and every search pattern ("\*.*") that the work
// directory's removal forms in a folder, fits a MAX_PATH buffer: PathFits.
const unsigned PATH_BUFFER_SIZE = 260;
const unsigned SEARCH_PATTERN_ROOM = 4;    // "\*.*" after a folder's path
// The work directory pack allows for when it judges member paths: up to this many
// characters, such as C:\Users\NAME\AppData\Local\Temp\ZEB1A2.tmp.
const unsigned WORK_DIRECTORY_BUDGET = 100;
// The longest member path that fits below such a work directory: separator, path, room
// for the search pattern and the terminator within PATH_BUFFER_SIZE.
const unsigned MAX_MEMBER_PATH =
    PATH_BUFFER_SIZE - WORK_DIRECTORY_BUDGET - 1 - SEARCH_PATTERN_ROOM - 1;

#endif
