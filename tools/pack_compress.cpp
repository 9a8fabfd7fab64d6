// pack: reading and compressing the members, several at once, with a progress bar.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <new>
#include <thread>

#include "encode/large_arrays.h"
#include "platform/system.h"
#include "tools/options.h"
#include "tools/pack.h"
#include "tools/terminal.h"

namespace {

const uint64_t MAX_MEMBER_SIZE = 0xFFFFFFFFull;
const unsigned MAX_JOBS = 16;

// What one worker has reported of its member so far, added into the shared count.
struct WorkerProgress {
    std::atomic<uint64_t>* total;
    uint64_t reported;
};

void OnEncodeProgress(void* context, uint64_t done) {
    auto* progress = static_cast<WorkerProgress*>(context);
    if (done > progress->reported) {
        *progress->total += done - progress->reported;
        progress->reported = done;
    }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    const int file = sys::OpenForReading(path.c_str());
    if (file < 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    data.clear();
    // Room for the whole file at once: growing the array as the reads come in copied
    // each member about twice more.
    FileStatus status;
    if (sys::StatusOfDescriptor(file, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size > 0 && static_cast<uint64_t>(status.st_size) <= MAX_MEMBER_SIZE) {
        ReserveLarge(data, static_cast<size_t>(status.st_size));
    }
    uint8_t buffer[1 << 16];
    for (;;) {
        const long long got = sys::Read(file, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = path + ": " + strerror(errno);
            sys::Close(file);
            return false;
        }
        if (got == 0) break;
        data.insert(data.end(), buffer, buffer + got);
        if (data.size() > MAX_MEMBER_SIZE) {
            error = path + ": larger than 4 GiB, which an archive member cannot hold";
            sys::Close(file);
            return false;
        }
    }
    sys::Close(file);
    return true;
}

namespace {

const size_t READ_PIECE = size_t(1) << 20;

// The room of the member's extended headers in its packed-size field.
uint64_t ExtendedBytes(const PackInput& input) {
    return input.folderField.empty() ? 0 : 3 + input.folderField.size();
}

std::string TooLarge(const PackInput& input) {
    return input.path + ": larger than 4 GiB, which an archive member cannot hold";
}

// Reads the member's file once, folding its CRC-16 and (for lh5 to lh7) compressing
// it as it comes into the member's spill buffer. A member that does not shrink is
// stored: WriteSetup then copies it from the file.
std::string CompressFile(const PackOptions& options, PackInput& input,
                         WorkerProgress& progress) {
    const int file = sys::OpenForReading(input.path.c_str());
    if (file < 0) return input.path + ": " + strerror(errno);
    EncodeOptions encode;
    encode.method = options.method;
    encode.best = options.best;
    encode.progress = OnEncodeProgress;
    encode.progressContext = &progress;
    const bool compress = options.method == METHOD_LH5 || options.method == METHOD_LH6 ||
                          options.method == METHOD_LH7;
    std::unique_ptr<StreamCompressor> compressor;
    if (compress) compressor.reset(new StreamCompressor(encode));
    input.spill = std::make_shared<SpillBuffer>();
    std::vector<uint8_t> plain(compress ? 0 : READ_PIECE);
    uint64_t total = 0;
    uint16_t crc = 0;
    std::string error;
    for (;;) {
        size_t room = READ_PIECE;
        uint8_t* space = compress ? compressor->InputSpace(&room) : plain.data();
        if (room > READ_PIECE) room = READ_PIECE;
        const long long got = sys::Read(file, space, room);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = input.path + ": " + strerror(errno);
            break;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
        if (total + ExtendedBytes(input) > MAX_MEMBER_SIZE) {
            error = TooLarge(input);
            break;
        }
        crc = Crc16(space, static_cast<size_t>(got), crc);
        if (!compress) {
            OnEncodeProgress(&progress, total);
            continue;
        }
        compressor->Added(static_cast<size_t>(got));
        std::vector<uint8_t>& stream = compressor->Output();
        if (!input.spill->Append(stream.data(), stream.size(), error)) break;
        stream.clear();
    }
    sys::Close(file);
    if (!error.empty()) return error;
    if (compress) {
        compressor->Finish();
        std::vector<uint8_t>& stream = compressor->Output();
        if (!input.spill->Append(stream.data(), stream.size(), error)) return error;
    }
    input.packed = PackedMember{options.method, static_cast<uint32_t>(total), crc, {}};
    if (!compress || input.spill->Size() >= total) {
        input.packed.method = METHOD_STORED;
        input.spill->Clear();
        input.packedSize = static_cast<uint32_t>(total);
    } else {
        input.packedSize = static_cast<uint32_t>(input.spill->Size());
    }
    OnEncodeProgress(&progress, total);
    return "";
}

}  // namespace

std::string ReadPackedData(const PackInput& input, const ByteSink& sink) {
    if (input.packed.method == METHOD_FOLDER) return "";
    if (input.packed.method != METHOD_STORED) {
        std::string error;
        if (input.spill) input.spill->ForEach(sink, error);
        return error;
    }
    const int file = sys::OpenForReading(input.path.c_str());
    if (file < 0) return input.path + ": " + strerror(errno);
    std::vector<uint8_t> piece(READ_PIECE);
    uint64_t total = 0;
    uint16_t crc = 0;
    std::string error;
    for (;;) {
        const long long got = sys::Read(file, piece.data(), piece.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = input.path + ": " + strerror(errno);
            break;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
        if (total > input.packed.originalSize) break;
        crc = Crc16(piece.data(), static_cast<size_t>(got), crc);
        if (!sink(piece.data(), static_cast<size_t>(got))) {
            sys::Close(file);
            return "";  // the sink's own failure
        }
    }
    sys::Close(file);
    if (error.empty() && (total != input.packed.originalSize || crc != input.packed.crc)) {
        error = input.path + ": changed while being packed; nothing written";
    }
    return error;
}

std::string CompressMembers(const PackOptions& options, std::vector<PackInput>& inputs,
                            double& seconds, unsigned& workers) {
    uint64_t totalBytes = 0;
    for (const PackInput& input : inputs) {
        if (!input.isFolder) totalBytes += static_cast<uint64_t>(input.status.st_size);
    }
    unsigned jobs = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
    jobs = std::max(1u, std::min(jobs, MAX_JOBS));
    workers = static_cast<unsigned>(std::min<size_t>(jobs, inputs.size()));

    const double started = NowSeconds();
    std::atomic<uint64_t> done{0};
    std::atomic<size_t> nextMember{0};
    std::atomic<bool> failed{false};
    size_t finished = 0;
    std::vector<std::string> errors(inputs.size());
    std::mutex mutex;
    std::condition_variable wake;
    // Largest files first: the last member to finish is then a small one, and the
    // workers end close together. The archive keeps the inputs' order.
    std::vector<size_t> order(inputs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto bytesOf = [&](size_t i) {
        return inputs[i].isFolder ? 0 : static_cast<uint64_t>(inputs[i].status.st_size);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return bytesOf(a) > bytesOf(b); });
    auto work = [&]() {
        for (;;) {
            const size_t next = nextMember++;
            if (next >= order.size() || failed) break;
            const size_t index = order[next];
            PackInput& input = inputs[index];
            if (input.isFolder) {
                input.packed = PackedMember{METHOD_FOLDER, 0, 0, {}};
            } else {
                WorkerProgress progress = {&done, 0};
                // Memory that runs out is this member's failure, reported in words.
                try {
                    errors[index] = CompressFile(options, input, progress);
                } catch (const std::bad_alloc&) {
                    errors[index] = input.path + ": out of memory while compressing it";
                }
                if (!errors[index].empty()) failed = true;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++finished;
            }
            wake.notify_all();
        }
    };
    std::vector<std::thread> threads;
    std::string startError;
    try {
        for (unsigned k = 0; k < workers; ++k) threads.emplace_back(work);
    } catch (const std::exception&) {
        // Fewer workers than asked for (no memory for another thread): those that
        // started do all the work; with none, it cannot be done.
        if (threads.empty()) startError = "out of memory: cannot start a packing thread";
    }
    if (!startError.empty()) return startError;
    workers = static_cast<unsigned>(threads.size());
    {
        // Redrawn several times a second with the time so far, so that a long member
        // (--best) shows that work goes on between the encoder's reports.
        std::unique_lock<std::mutex> lock(mutex);
        while (finished < inputs.size() && !failed) {
            wake.wait_for(lock, std::chrono::milliseconds(250));
            if (quietOutput) continue;
            char label[48];
            snprintf(label, sizeof label, "packing (%.0f s)", NowSeconds() - started);
            ProgressBar(label, done, totalBytes);
        }
    }
    for (std::thread& thread : threads) thread.join();
    ProgressDone();
    seconds = NowSeconds() - started;
    for (const std::string& error : errors) {
        if (!error.empty()) return error;
    }
    return "";
}
