// A member from its bytes: the compressed stream, the stored fallback, and its
// level-1 header.
#include "archive/crc16.h"
#include "encode/encoder.h"
#include "encode/encoder_internal.h"
#include "encode/large_arrays.h"

#include <string.h>

#include <algorithm>

StreamCompressor::StreamCompressor(const EncodeOptions& options)
    : options(options),
      segmentBytes(options.best ? STREAM_BEST_SEGMENT_BYTES : STREAM_SEGMENT_BYTES),
      out(new BitWriter) {}

StreamCompressor::~StreamCompressor() = default;

std::vector<uint8_t>& StreamCompressor::Output() { return out->bytes; }

uint8_t* StreamCompressor::InputSpace(size_t* room) {
    // Pages of the buffer are taken only as the input fills them.
    if (!buffer) buffer.reset(new uint8_t[STREAM_HISTORY_BYTES + segmentBytes]);
    *room = history + segmentBytes - filled;
    return buffer.get() + filled;
}

void StreamCompressor::Added(size_t count) {
    filled += count;
    if (filled == history + segmentBytes) CompressSegment();
}

void StreamCompressor::Finish() {
    if (filled > history || !compressedAny) CompressSegment();
    out->Flush();
    if (options.progress != nullptr) {
        options.progress(options.progressContext, segmentBase + (filled - history));
    }
}

void StreamCompressor::Report(void* context, uint64_t position) {
    const StreamCompressor* self = static_cast<const StreamCompressor*>(context);
    if (position < self->history) return;
    self->options.progress(self->options.progressContext,
                           self->segmentBase + (position - self->history));
}

void StreamCompressor::CompressSegment() {
    MethodParameters parameters = ParametersFor(options.method);
    parameters.tuneLengths = options.best;
    // Each packing thread keeps its token array from segment to segment: its memory is
    // paged in once, not for every member.
    thread_local std::vector<Token> tokens;
    tokens.clear();
    const ParseProgress progress = {options.progress != nullptr ? Report : nullptr, this};
    const uint8_t* data = buffer.get();
    std::vector<size_t> ends;
    if (options.best) {
        OptimalParse(data, filled, history, parameters, tokens, progress, ends);
    } else {
        LazyParse(data, filled, history, parameters, tokens, progress);
    }
    // The parser's own exact split is the one asked for when blocks have no tighter limit.
    const bool limited =
        options.maxBlockSymbols != 0 && options.maxBlockSymbols < MAX_BLOCK_SYMBOLS;
    if (ends.empty() || limited) {
        ends = SplitBlocks(tokens.data(), tokens.size(), parameters, options.maxBlockSymbols,
                           options.best);
    }
    // Room for the stream of incompressible bytes (blocks of literals of about 8.1 bits
    // each): no growth by doubling on the way.
    const size_t input = filled - history;
    ReserveLarge(out->bytes, out->bytes.size() + input + input / 32 + 1024);
    size_t begin = 0;
    for (size_t end : ends) {
        WriteBlock(*out, tokens.data() + begin, end - begin, parameters);
        begin = end;
    }
    compressedAny = true;
    // The window's worth of the segment's end stays as the next segment's history.
    segmentBase += filled - history;
    const size_t keep = std::min(filled, STREAM_HISTORY_BYTES);
    if (keep != 0) memmove(buffer.get(), buffer.get() + filled - keep, keep);
    history = filled = keep;
}

std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size,
                                    const EncodeOptions& options) {
    StreamCompressor compressor(options);
    std::vector<uint8_t> stream;
    while (size > 0) {
        size_t room = 0;
        uint8_t* space = compressor.InputSpace(&room);
        const size_t part = std::min(room, size);
        memcpy(space, data, part);
        data += part;
        size -= part;
        compressor.Added(part);
        if (stream.empty()) {
            stream.swap(compressor.Output());
        } else {
            stream.insert(stream.end(), compressor.Output().begin(), compressor.Output().end());
            compressor.Output().clear();
        }
    }
    compressor.Finish();
    if (stream.empty()) return std::move(compressor.Output());
    stream.insert(stream.end(), compressor.Output().begin(), compressor.Output().end());
    return stream;
}

uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc) {
    // The core's CRC (folded with carry-less multiplication where the processor can);
    // its tables are built once, before any packing thread uses them.
    static const bool ready = (BuildCrcTable(), true);
    (void)ready;
    while (size > 0) {
        const uint32_t part = size < 0x40000000u ? static_cast<uint32_t>(size) : 0x40000000u;
        crc = Crc16OfBlock(crc, data, part);
        data += part;
        size -= part;
    }
    return crc;
}

PackedMember PackMember(const uint8_t* data, size_t size, const EncodeOptions& options,
                        char method, bool allowFallback) {
    PackedMember member;
    member.originalSize = static_cast<uint32_t>(size);
    member.crc = Crc16(data, size);
    if (method == METHOD_LH5 || method == METHOD_LH6 || method == METHOD_LH7) {
        EncodeOptions methodOptions = options;
        methodOptions.method = method;
        member.data = CompressStream(data, size, methodOptions);
        member.method = method;
        if (!allowFallback || member.data.size() < size) return member;
    }
    member.method = METHOD_STORED;
    member.data.assign(data, data + size);
    return member;
}

std::vector<uint8_t> BuildMemberHeader(const std::string& name, const PackedMember& member,
                                       uint16_t dosTime, uint16_t dosDate,
                                       const std::string& folder) {
    return BuildMemberHeader(name, member, static_cast<uint32_t>(member.data.size()), dosTime,
                             dosDate, folder);
}

std::vector<uint8_t> BuildMemberHeader(const std::string& name, const PackedMember& member,
                                       uint32_t packedSize, uint16_t dosTime,
                                       uint16_t dosDate, const std::string& folder) {
    const size_t nameLength = name.size();
    // The directory extended header: size, type 0x02, the folder, and the size of the
    // next extended header (0: the last).
    const size_t extendedSize = folder.empty() ? 0 : 3 + folder.size();
    std::vector<uint8_t> header;
    header.reserve(2 + HEADER_FIXED_SIZE + nameLength + extendedSize);
    auto put16 = [&](uint32_t value) {
        header.push_back(static_cast<uint8_t>(value));
        header.push_back(static_cast<uint8_t>(value >> 8));
    };
    auto put32 = [&](uint32_t value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    header.push_back(static_cast<uint8_t>(HEADER_FIXED_SIZE + nameLength));
    header.push_back(0);  // sum, below
    const char method[] = {'-', 'l', 'h', member.method, '-'};
    header.insert(header.end(), method, method + 5);
    put32(static_cast<uint32_t>(packedSize + extendedSize));
    put32(member.originalSize);
    put16(dosTime);
    put16(dosDate);
    header.push_back(member.method == METHOD_FOLDER ? 0x10 : 0x20);  // attribute: folder or archive
    header.push_back(1);     // level
    header.push_back(static_cast<uint8_t>(nameLength));
    header.insert(header.end(), name.begin(), name.end());
    put16(member.crc);
    header.push_back('M');
    put16(static_cast<uint32_t>(extendedSize));
    uint32_t sum = 0;
    for (size_t i = 2; i < header.size(); ++i) sum += header[i];
    header[1] = static_cast<uint8_t>(sum);
    if (extendedSize != 0) {
        header.push_back(0x02);
        header.insert(header.end(), folder.begin(), folder.end());
        put16(0);
    }
    return header;
}

std::string FolderField(const std::vector<std::string>& components) {
    std::string field;
    for (const std::string& component : components) {
        field += component;
        field += '\xFF';
    }
    return field;
}
