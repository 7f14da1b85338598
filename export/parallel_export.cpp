#include "export/parallel_export.h"

#include <windows.h>

#include <lame/lame.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "export/mp3_encoder.h"
#include "export/mp3_export.h"
#include "export/mp3_frames.h"
#include "export/mp3_join.h"
#include "export/segment_plan.h"
#include "export/vbr_tag.h"
#include "export/wav_input.h"
#include "recording/wav_header.h"
#include "recording/wide_path.h"

uint32_t exportThreads = 0;

namespace {

// How often the export's own thread posts progress while it waits for a segment.
constexpr auto SEGMENT_WAIT_STEP = std::chrono::milliseconds(100);
// Bytes of a segment file read at a time by the join.
constexpr size_t SEGMENT_READ_BYTES = 65536;

// One segment's outcome, written by its worker and read by the join once `done` is set.
struct SegmentState {
    ExportSegment plan;
    std::wstring path;
    bool done = false;
    const wchar_t* failure = nullptr;
    uint64_t framesWritten = 0;
};

// Everything the workers and the join of one export share.
struct SegmentJob {
    std::wstring wavPath;
    int32_t fileChannels = 0;
    uint32_t sampleRate = 0;
    uint32_t outputRate = 0;
    std::vector<SegmentState> segments;
    std::vector<uint8_t> headerFrame;  // the first segment's encoder's VBR header, as a pattern
    std::atomic<size_t> nextSegment{0};
    std::atomic<bool> abandoned{false};
    std::mutex mutex;  // guards every SegmentState, headerFrame and firstFailure
    const wchar_t* firstFailure = nullptr;  // what ended the export, when a segment failed
    std::condition_variable segmentDone;
    ExportProgress* progress = nullptr;
};

// Returns the name of segment k's file: the partial file's name with the segment's number.
std::wstring segmentPathFor(const std::wstring& partialPath, size_t k) {
    const std::wstring stem = partialPath.substr(0, partialPath.size() - 5);  // without ".part"
    return stem + L"-" + std::to_wstring(k) + L".part";
}

// Returns the threads to use: exportThreads, or one per core.
uint32_t threadsToUse() {
    if (exportThreads > 0) return exportThreads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

// Creates and configures one encoder as the single pass does; null when that fails.
lame_t createConfiguredEncoder(int32_t fileChannels, uint32_t sampleRate) {
    lame_t lame = createMp3Encoder();
    if (lame != nullptr && !configureMp3Encoder(lame, mp3Channels(fileChannels), sampleRate)) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

// Writes the frames the unpacker has whole to the segment file, keeping the encoder's frames
// from the lead-in's end on (its first frame is its VBR header); false when the stream is damaged.
bool keepWholeFrames(Mp3Unpacker& unpacker, uint64_t& encoderFrames, SegmentState& segment, bool lastSegment,
                     std::ostream& file, std::vector<uint8_t>& frame) {
    while (takeUnpackedFrame(unpacker, frame)) {
        const uint64_t audioFrame = encoderFrames++;  // 0 is the VBR header
        if (audioFrame < 1 + segment.plan.leadInFrames) continue;
        if (!lastSegment && segment.framesWritten == segment.plan.keptFrames) continue;
        file.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        ++segment.framesWritten;
    }
    return !unpacker.damaged;
}

// Adds the part of input samples [from, to) that is this segment's own to the export's progress.
void countOwnInput(SegmentJob& job, const ExportSegment& plan, uint64_t from, uint64_t to) {
    const uint64_t start = std::max(from, plan.ownStart), end = std::min(to, plan.ownEnd);
    if (end > start) job.progress->doneBytes.fetch_add((end - start) * 2 * static_cast<uint64_t>(job.fileChannels));
}

// Encodes one segment into its file; returns a failure text or null. Closes what it opens.
const wchar_t* encodeSegment(SegmentJob& job, SegmentState& segment, bool lastSegment, bool keepHeader) {
    const ExportSegment& plan = segment.plan;
    const uint64_t frameBytes = 2 * static_cast<uint64_t>(job.fileChannels);
    std::ifstream wav(longPathForm(job.wavPath).c_str(), std::ios::in | std::ios::binary);
    if (!wav.is_open()) return EXPORT_OPEN_FAILED_TEXT;
    wav.seekg(static_cast<std::streamoff>(sizeof(WavHeader) + plan.inputStart * frameBytes));
    std::ofstream file(segment.path.c_str(), std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return EXPORT_CREATE_FAILED_TEXT;
    lame_t lame = createConfiguredEncoder(job.fileChannels, job.sampleRate);
    if (lame == nullptr) return EXPORT_ENCODER_FAILED_TEXT;

    std::vector<int16_t> samples(EXPORT_SAMPLE_VALUES);
    std::vector<unsigned char> mp3Buffer(mp3BufferBytes(job.sampleRate, job.outputRate));
    std::vector<uint8_t> frame;
    Mp3Unpacker unpacker;
    uint64_t encoderFrames = 0;
    const wchar_t* failure = nullptr;
    const size_t blockFrames = exportBlockBytes(job.fileChannels) / frameBytes;
    for (uint64_t at = plan.inputStart; at < plan.inputEnd && failure == nullptr && !job.abandoned;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(blockFrames, plan.inputEnd - at));
        wav.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(want * frameBytes));
        const int32_t frames = framesInBlock(static_cast<size_t>(wav.gcount()), job.fileChannels);
        if (frames != static_cast<int32_t>(want)) {
            failure = EXPORT_READ_FAILED_TEXT;  // the recording shrank under the export
            break;
        }
        if (job.fileChannels >= 2) splitFirstTwoChannels(samples.data(), frames, job.fileChannels);
        const int result = lame_encode_buffer(lame, samples.data(),
                                              job.fileChannels >= 2 ? samples.data() + EXPORT_RIGHT_CHANNEL_OFFSET : nullptr,
                                              frames, mp3Buffer.data(), static_cast<int>(mp3Buffer.size()));
        if (result < 0) failure = EXPORT_ENCODING_FAILED_TEXT;
        else feedMp3Unpacker(unpacker, mp3Buffer.data(), static_cast<size_t>(result));
        if (failure == nullptr && !keepWholeFrames(unpacker, encoderFrames, segment, lastSegment, file, frame))
            failure = EXPORT_ENCODING_FAILED_TEXT;
        countOwnInput(job, plan, at, at + want);
        at += want;
    }
    if (failure == nullptr && !job.abandoned) {
        const int result = lame_encode_flush(lame, mp3Buffer.data(), static_cast<int>(mp3Buffer.size()));
        if (result < 0) failure = EXPORT_ENCODING_FAILED_TEXT;
        else feedMp3Unpacker(unpacker, mp3Buffer.data(), static_cast<size_t>(result));
        if (failure == nullptr && !keepWholeFrames(unpacker, encoderFrames, segment, lastSegment, file, frame))
            failure = EXPORT_ENCODING_FAILED_TEXT;
        // Every byte the encoder made belongs to a whole frame, and every frame planned is there.
        const bool complete = unpacker.input.size() == unpacker.inputUsed &&
                              (lastSegment || segment.framesWritten == plan.keptFrames);
        if (failure == nullptr && !complete) failure = EXPORT_ENCODING_FAILED_TEXT;
    }
    if (failure == nullptr && job.abandoned) failure = EXPORT_ENCODING_FAILED_TEXT;  // cut short
    if (failure == nullptr && keepHeader) {
        std::vector<uint8_t> header(mp3Buffer.size());
        const size_t bytes = lame_get_lametag_frame(lame, header.data(), header.size());
        if (bytes == 0 || bytes > header.size()) {
            failure = EXPORT_ENCODING_FAILED_TEXT;
        } else {
            header.resize(bytes);
            std::lock_guard<std::mutex> lock(job.mutex);
            job.headerFrame = std::move(header);
        }
    }
    lame_close(lame);
    file.close();
    if (failure == nullptr && file.fail()) failure = EXPORT_WRITE_FAILED_TEXT;
    return failure;
}

// Runs segments, in order, until none is left or the export is abandoned.
void runSegmentWorker(SegmentJob& job) {
    for (;;) {
        const size_t k = job.nextSegment.fetch_add(1);
        if (k >= job.segments.size() || job.abandoned) return;
        SegmentState& segment = job.segments[k];
        const wchar_t* failure = encodeSegment(job, segment, k + 1 == job.segments.size(), k == 0);
        std::lock_guard<std::mutex> lock(job.mutex);
        segment.done = true;
        segment.failure = failure;
        if (failure != nullptr && job.firstFailure == nullptr) job.firstFailure = failure;
        if (failure != nullptr) job.abandoned = true;
        job.segmentDone.notify_all();
    }
}

// Waits until segment k is done or some segment failed, posting progress meanwhile; returns
// the first failure text or null.
const wchar_t* awaitSegment(SegmentJob& job, size_t k) {
    std::unique_lock<std::mutex> lock(job.mutex);
    while (!job.segments[k].done && job.firstFailure == nullptr) {
        job.segmentDone.wait_for(lock, SEGMENT_WAIT_STEP);
        lock.unlock();
        postExportProgress(*job.progress);
        lock.lock();
    }
    return job.firstFailure;
}

// The join's running state: the repacker and what the VBR header will say.
struct JoinState {
    Mp3Repacker repacker;
    bool started = false;
    VbrSeekSums seekSums;
    uint16_t musicCrc = 0;
    uint64_t musicBytes = 0;
};

// Writes what the repacker has made final to the MP3 and counts it for the header.
bool writeReady(JoinState& join, std::ostream& mp3) {
    Mp3Repacker& r = join.repacker;
    for (int kbps : r.laidFrameKbps) addVbrSeekFrame(join.seekSums, kbps);
    r.laidFrameKbps.clear();
    join.musicCrc = vbrCrc16(join.musicCrc, r.ready.data(), r.ready.size());
    join.musicBytes += r.ready.size();
    mp3.write(reinterpret_cast<const char*>(r.ready.data()), static_cast<std::streamsize>(r.ready.size()));
    r.ready.clear();
    return mp3.good();
}

// Joins one finished segment's frames into the MP3; returns a failure text or null.
const wchar_t* joinSegment(JoinState& join, const std::wstring& path, std::ostream& mp3) {
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (!file.is_open()) return EXPORT_ENCODING_FAILED_TEXT;
    std::vector<uint8_t> buffer;
    size_t used = 0;
    std::vector<uint8_t> chunk(SEGMENT_READ_BYTES);
    for (;;) {
        file.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        const size_t got = static_cast<size_t>(file.gcount());
        if (got == 0) break;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
        used = 0;
        buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        for (size_t bytes; (bytes = unpackedFrameBytes(buffer.data() + used, buffer.size() - used)) != 0 &&
                           bytes <= buffer.size() - used;
             used += bytes) {
            if (!join.started) {
                Mp3FrameHeader header;
                parseMp3FrameHeader(buffer.data() + used, header);
                startMp3Repacker(join.repacker, mp3PackingLimits(header));
                join.started = true;
            }
            if (!pushMp3Frame(join.repacker, std::vector<uint8_t>(buffer.begin() + used, buffer.begin() + used + bytes)))
                return EXPORT_ENCODING_FAILED_TEXT;
        }
        if (!writeReady(join, mp3)) return EXPORT_WRITE_FAILED_TEXT;
    }
    return used == buffer.size() ? nullptr : EXPORT_ENCODING_FAILED_TEXT;
}

// Completes the joined stream: the last frames, then the VBR header over its placeholder.
const wchar_t* finishJoin(SegmentJob& job, JoinState& join, std::ostream& mp3, uint64_t inputSamples,
                          uint32_t samplesPerFrame) {
    if (!join.started || !finishMp3Repacker(join.repacker)) return EXPORT_ENCODING_FAILED_TEXT;
    if (!writeReady(join, mp3)) return EXPORT_WRITE_FAILED_TEXT;
    VbrStreamFacts facts;
    facts.audioFrames = join.seekSums.frames;
    facts.streamBytes = job.headerFrame.size() + join.musicBytes;
    facts.musicCrc = join.musicCrc;
    facts.seekTable = vbrSeekTable(join.seekSums);
    const int64_t padding = vbrPadding(facts.audioFrames, samplesPerFrame, inputSamples);
    facts.padding = static_cast<int>(std::max<int64_t>(-1, std::min<int64_t>(padding, 0x1000)));
    // The frames must be the single pass's, every one: anything else is a fault, not a file.
    if (facts.audioFrames != singlePassFrames(inputSamples, samplesPerFrame) ||
        !completeVbrHeader(job.headerFrame, facts)) {
        return EXPORT_ENCODING_FAILED_TEXT;
    }
    mp3.seekp(0);
    mp3.write(reinterpret_cast<const char*>(job.headerFrame.data()), static_cast<std::streamsize>(job.headerFrame.size()));
    return mp3.good() ? nullptr : EXPORT_WRITE_FAILED_TEXT;
}

// Joins the segments in order as they finish; returns a failure text or null.
const wchar_t* joinSegments(SegmentJob& job, std::ostream& mp3, uint64_t inputSamples, uint32_t samplesPerFrame) {
    auto join = std::make_unique<JoinState>();
    for (size_t k = 0; k < job.segments.size(); ++k) {
        if (const wchar_t* failure = awaitSegment(job, k)) return failure;
        if (k == 0) {
            // Room for the VBR header, written over it once the stream is complete.
            std::vector<uint8_t> placeholder(job.headerFrame.size(), 0);
            mp3.write(reinterpret_cast<const char*>(placeholder.data()), static_cast<std::streamsize>(placeholder.size()));
        }
        const wchar_t* failure = joinSegment(*join, job.segments[k].path, mp3);
        DeleteFileW(job.segments[k].path.c_str());
        if (failure != nullptr) return failure;
    }
    return finishJoin(job, *join, mp3, inputSamples, samplesPerFrame);
}

// Returns the output rate and frame size the encoder picks for the recording; false when no
// encoder can be made (the single pass then reports it).
bool probeEncoder(int32_t fileChannels, uint32_t sampleRate, uint32_t& outputRate, uint32_t& samplesPerFrame) {
    lame_t lame = createConfiguredEncoder(fileChannels, sampleRate);
    if (lame == nullptr) return false;
    outputRate = static_cast<uint32_t>(lame_get_out_samplerate(lame));
    samplesPerFrame = static_cast<uint32_t>(lame_get_framesize(lame));
    lame_close(lame);
    return true;
}

}  // namespace

bool encodeInSegments(const std::wstring& wavPath, const std::wstring& partialPath, std::ostream& mp3,
                      int32_t fileChannels, uint32_t sampleRate, uint64_t dataBytes, ExportProgress& progress,
                      const wchar_t*& failure) {
    failure = nullptr;
    const uint64_t inputSamples = dataBytes / (2 * static_cast<uint64_t>(fileChannels));
    const uint32_t threads = threadsToUse();
    // Cheap checks first: most short recordings never need the probe encoder.
    if (threads < 2 || planExportSegments(inputSamples, 1152, sampleRate, threads).empty()) return false;
    uint32_t outputRate = 0, samplesPerFrame = 0;
    if (!probeEncoder(fileChannels, sampleRate, outputRate, samplesPerFrame)) return false;
    // NOTE: an encoder that resamples has a filter whose state and grid do not line up with a
    // segment's start. And below 32 kHz (frames of 576 samples) the encoder's bitrate cap is
    // low enough (160 kbps, 64 below 16 kHz) that loud transients reach it; such a frame gets
    // what the encoder's bit reservoir holds at that moment, which a segment's encoder cannot
    // know, so it would decode a little differently. Both take the single pass, which at such
    // rates is quick anyway.
    if (outputRate != sampleRate || samplesPerFrame != 1152) return false;
    const std::vector<ExportSegment> plan = planExportSegments(inputSamples, samplesPerFrame, sampleRate, threads);
    if (plan.empty()) return false;

    SegmentJob job;
    job.wavPath = wavPath;
    job.fileChannels = fileChannels;
    job.sampleRate = sampleRate;
    job.outputRate = outputRate;
    job.progress = &progress;
    for (size_t k = 0; k < plan.size(); ++k) {
        SegmentState segment;
        segment.plan = plan[k];
        segment.path = segmentPathFor(partialPath, k);
        job.segments.push_back(segment);
    }
    std::vector<std::thread> workers;
    const size_t wanted = std::min<size_t>(threads, plan.size());
    for (size_t i = 0; i < wanted; ++i) {
        try {
            workers.emplace_back(runSegmentWorker, std::ref(job));
        } catch (const std::system_error&) {
            break;  // fewer workers take longer, nothing more
        }
    }
    if (workers.empty()) {
        failure = EXPORT_ENCODING_FAILED_TEXT;
        return true;
    }
    failure = joinSegments(job, mp3, inputSamples, samplesPerFrame);
    if (failure != nullptr) job.abandoned = true;
    for (std::thread& worker : workers) worker.join();
    for (const SegmentState& segment : job.segments) DeleteFileW(segment.path.c_str());
    return true;
}
