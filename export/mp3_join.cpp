#include "export/mp3_join.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The decoder buffer the encoder allows its VBR frames, reservoir included: 7680 bits per granule.
constexpr int MPEG1_DECODER_BUFFER_BYTES = 1920;
constexpr int MPEG2_DECODER_BUFFER_BYTES = 960;

// Returns the main-data slot of a frame at bitrateIndex.
int slotBytes(const Mp3PackingLimits& limits, int bitrateIndex) {
    return static_cast<int>(mp3FrameBytesAt(limits.mpeg1, limits.sampleRate, bitrateIndex)) -
           static_cast<int>(MP3_HEADER_BYTES + limits.sideInfoBytes);
}

// Returns true when a frame needs nothing from the frames before it whatever follows: even with
// a full reservoir kept for the next frame, the largest slot holds its main data.
bool needsNoReservoir(const Mp3PackingLimits& limits, int mainBytes) {
    return mainBytes + limits.reservoirLimit <= slotBytes(limits, limits.maxBitrateIndex);
}

// Works out, from the last pending frame back, the reservoir each needs on entry, given what
// the frame after them needs; false when some frame cannot be laid at all.
bool planNeeds(Mp3Repacker& repacker, int needAfter) {
    const int largestSlot = slotBytes(repacker.limits, repacker.limits.maxBitrateIndex);
    for (auto frame = repacker.pending.rbegin(); frame != repacker.pending.rend(); ++frame) {
        frame->need = std::max(0, frame->mainBytes + needAfter - largestSlot);
        if (frame->need > repacker.limits.reservoirLimit) return false;
        needAfter = frame->need;
    }
    return true;
}

// Moves the output before the end of the main data laid so far (no later frame writes there) to ready.
void releaseFinalBytes(Mp3Repacker& r) {
    size_t finalBytes = r.open.size();
    while (!r.openSlotStart.empty()) {
        const int64_t slotEnd = r.openSlotStart.front() + r.openSlotBytes.front();
        if (slotEnd > r.dataEnd) {
            finalBytes = r.openSlotOffset.front() + static_cast<size_t>(std::max<int64_t>(0, r.dataEnd - r.openSlotStart.front()));
            break;
        }
        r.openSlotStart.pop_front();
        r.openSlotOffset.pop_front();
        r.openSlotBytes.pop_front();
    }
    r.ready.insert(r.ready.end(), r.open.begin(), r.open.begin() + static_cast<std::ptrdiff_t>(finalBytes));
    r.open.erase(r.open.begin(), r.open.begin() + static_cast<std::ptrdiff_t>(finalBytes));
    for (size_t& offset : r.openSlotOffset) offset -= finalBytes;
}

// Writes main-data bytes at main-data position `at`, through the open slots that hold it.
void writeMainData(Mp3Repacker& r, int64_t at, const uint8_t* bytes, int count) {
    for (size_t i = 0; i < r.openSlotStart.size() && count > 0; ++i) {
        const int64_t start = r.openSlotStart[i], end = start + r.openSlotBytes[i];
        if (at >= end) continue;
        const int n = static_cast<int>(std::min<int64_t>(count, end - at));
        std::memcpy(r.open.data() + r.openSlotOffset[i] + (at - start), bytes, static_cast<size_t>(n));
        at += n;
        bytes += n;
        count -= n;
    }
}

// Lays the oldest pending frame: the smallest bitrate whose slot, with the reservoir it may
// reach back into, holds its main data and leaves the next frame what that one needs.
bool layOldestFrame(Mp3Repacker& r, int needAfter) {
    Mp3PendingFrame frame = std::move(r.pending.front());
    r.pending.pop_front();
    const int reach = static_cast<int>(std::min<int64_t>(r.slotsEnd - r.dataEnd, r.limits.reservoirLimit));
    int index = 1;
    while (index <= r.limits.maxBitrateIndex && reach + slotBytes(r.limits, index) - frame.mainBytes < needAfter) ++index;
    if (index > r.limits.maxBitrateIndex) return false;
    const int slot = slotBytes(r.limits, index);
    const size_t headerAndSide = MP3_HEADER_BYTES + r.limits.sideInfoBytes;
    const size_t frameOffset = r.open.size();
    r.open.insert(r.open.end(), frame.bytes.begin(), frame.bytes.begin() + static_cast<std::ptrdiff_t>(headerAndSide));
    r.open.resize(r.open.size() + static_cast<size_t>(slot), 0);  // bytes no frame uses stay zero
    uint8_t* header = r.open.data() + frameOffset;
    header[2] = static_cast<uint8_t>((index << 4) | (header[2] & 0x0C) | (header[2] & 0x01));  // no padding
    Mp3FrameHeader parsed;
    parseMp3FrameHeader(header, parsed);
    setMp3MainDataBegin(parsed, header + MP3_HEADER_BYTES, reach);
    r.openSlotStart.push_back(r.slotsEnd);
    r.openSlotOffset.push_back(frameOffset + headerAndSide);
    r.openSlotBytes.push_back(slot);
    const int64_t dataStart = r.slotsEnd - reach;
    r.slotsEnd += slot;
    writeMainData(r, dataStart, frame.bytes.data() + headerAndSide, frame.mainBytes);
    r.dataEnd = dataStart + frame.mainBytes;
    r.laidFrameKbps.push_back(mp3BitrateKbps(r.limits.mpeg1, index));
    releaseFinalBytes(r);
    return true;
}

// Lays every pending frame but the last `keep`, the frame after them needing needAfter.
bool layPending(Mp3Repacker& r, size_t keep, int needAfter) {
    Mp3PendingFrame kept;
    if (keep == 1) {
        kept = std::move(r.pending.back());
        r.pending.pop_back();
    }
    bool laid = planNeeds(r, needAfter);
    while (laid && !r.pending.empty()) {
        const int next = r.pending.size() > 1 ? r.pending[1].need : needAfter;
        laid = layOldestFrame(r, next);
    }
    r.pending.clear();
    if (keep == 1) r.pending.push_back(std::move(kept));
    return laid;
}

}  // namespace

Mp3PackingLimits mp3PackingLimits(const Mp3FrameHeader& header) {
    Mp3PackingLimits limits;
    limits.mpeg1 = header.mpeg1;
    limits.sampleRate = header.sampleRate;
    limits.maxBitrateIndex = header.sampleRate < 16000 ? 8 : 14;
    limits.sideInfoBytes = header.sideInfoBytes;
    const int largestFrame = static_cast<int>(mp3FrameBytesAt(header.mpeg1, header.sampleRate, limits.maxBitrateIndex));
    const int rangeLimit = header.mpeg1 ? MP3_MAX_MAIN_DATA_BEGIN : 255;
    const int buffer = header.mpeg1 ? MPEG1_DECODER_BUFFER_BYTES : MPEG2_DECODER_BUFFER_BYTES;
    limits.reservoirLimit = std::max(0, std::min(buffer - largestFrame, rangeLimit));
    return limits;
}

void startMp3Repacker(Mp3Repacker& repacker, const Mp3PackingLimits& limits) {
    repacker = Mp3Repacker();
    repacker.limits = limits;
}

bool pushMp3Frame(Mp3Repacker& r, std::vector<uint8_t> frame) {
    if (r.failed) return false;
    Mp3FrameHeader header;
    if (frame.size() < MP3_HEADER_BYTES || !parseMp3FrameHeader(frame.data(), header) ||
        header.mpeg1 != r.limits.mpeg1 || header.sampleRate != r.limits.sampleRate ||
        header.sideInfoBytes != r.limits.sideInfoBytes || unpackedFrameBytes(frame.data(), frame.size()) != frame.size()) {
        r.failed = true;
        return false;
    }
    Mp3PendingFrame pending;
    pending.mainBytes = static_cast<int>(frame.size() - MP3_HEADER_BYTES - header.sideInfoBytes);
    pending.bytes = std::move(frame);
    const bool anchor = needsNoReservoir(r.limits, pending.mainBytes);
    r.pending.push_back(std::move(pending));
    // Once a frame needs nothing from before it, every frame before it can be laid; so can a
    // window grown too long, planning for a full reservoir after it.
    if (anchor && r.pending.size() > 1) r.failed = !layPending(r, 1, 0);
    else if (r.pending.size() >= MP3_REPACK_WINDOW_FRAMES) r.failed = !layPending(r, 1, r.limits.reservoirLimit);
    return !r.failed;
}

bool finishMp3Repacker(Mp3Repacker& r) {
    if (!r.failed) r.failed = !layPending(r, 0, 0);
    if (!r.failed) {
        r.ready.insert(r.ready.end(), r.open.begin(), r.open.end());
        r.open.clear();
        r.openSlotStart.clear();
        r.openSlotOffset.clear();
        r.openSlotBytes.clear();
    }
    return !r.failed;
}
