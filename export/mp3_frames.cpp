#include "export/mp3_frames.h"

#include <algorithm>

namespace {

const int MPEG1_KBPS[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
const int MPEG2_KBPS[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
const int MPEG1_RATES[3] = {44100, 48000, 32000};

// Bits of side information of one granule of one channel: every field has a fixed width (the
// two layouts after window_switching_flag are both 22 bits).
constexpr int MPEG1_GRANULE_CHANNEL_BITS = 59;
constexpr int MPEG2_GRANULE_CHANNEL_BITS = 63;

// Reads count bits (at most 16) starting at bit offset of a big-endian bit string.
uint32_t readBits(const uint8_t* bytes, uint32_t offset, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++offset) value = (value << 1) | ((bytes[offset / 8] >> (7 - offset % 8)) & 1u);
    return value;
}

// Returns the bit offset of the first part2_3_length field, after main_data_begin, the private
// bits and (MPEG-1) the scale factor selection bits.
uint32_t firstGranuleBit(const Mp3FrameHeader& header) {
    if (header.mpeg1) return 9 + (header.channels == 1 ? 5 : 3) + 4 * header.channels;
    return 8 + (header.channels == 1 ? 1 : 2);
}

}  // namespace

bool parseMp3FrameHeader(const uint8_t* bytes, Mp3FrameHeader& header) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return false;
    const int version = (bytes[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (bytes[1] >> 1) & 3;    // 1: Layer III
    const bool noCrc = (bytes[1] & 1) != 0;
    const int bitrateIndex = bytes[2] >> 4;
    const int rateIndex = (bytes[2] >> 2) & 3;
    if (version == 1 || layer != 1 || !noCrc || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
    header.mpeg1 = version == 3;
    header.bitrateIndex = bitrateIndex;
    header.sampleRate = MPEG1_RATES[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
    header.channels = (bytes[3] >> 6) == 3 ? 1 : 2;
    header.padded = (bytes[2] & 2) != 0;
    header.samplesPerFrame = header.mpeg1 ? 1152 : 576;
    header.frameBytes = mp3FrameBytesAt(header.mpeg1, header.sampleRate, bitrateIndex) + (header.padded ? 1 : 0);
    header.sideInfoBytes = header.mpeg1 ? (header.channels == 1 ? 17 : 32) : (header.channels == 1 ? 9 : 17);
    return true;
}

uint32_t mp3FrameBytesAt(bool mpeg1, int sampleRate, int bitrateIndex) {
    if (bitrateIndex < 1 || bitrateIndex > 14 || sampleRate <= 0) return 0;
    return static_cast<uint32_t>((mpeg1 ? 144 : 72) * 1000 * mp3BitrateKbps(mpeg1, bitrateIndex) / sampleRate);
}

int mp3BitrateKbps(bool mpeg1, int bitrateIndex) {
    if (bitrateIndex < 1 || bitrateIndex > 14) return 0;
    return mpeg1 ? MPEG1_KBPS[bitrateIndex] : MPEG2_KBPS[bitrateIndex];
}

int mp3MainDataBegin(const Mp3FrameHeader& header, const uint8_t* sideInfo) {
    return static_cast<int>(readBits(sideInfo, 0, header.mpeg1 ? 9 : 8));
}

void setMp3MainDataBegin(const Mp3FrameHeader& header, uint8_t* sideInfo, int mainDataBegin) {
    if (header.mpeg1) {
        sideInfo[0] = static_cast<uint8_t>(mainDataBegin >> 1);
        sideInfo[1] = static_cast<uint8_t>((sideInfo[1] & 0x7F) | ((mainDataBegin & 1) << 7));
    } else {
        sideInfo[0] = static_cast<uint8_t>(mainDataBegin);
    }
}

uint32_t mp3MainDataBits(const Mp3FrameHeader& header, const uint8_t* sideInfo) {
    const int granules = header.mpeg1 ? 2 : 1;
    const int stride = header.mpeg1 ? MPEG1_GRANULE_CHANNEL_BITS : MPEG2_GRANULE_CHANNEL_BITS;
    uint32_t bits = 0;
    for (int block = 0; block < granules * header.channels; ++block)
        bits += readBits(sideInfo, firstGranuleBit(header) + static_cast<uint32_t>(block * stride), 12);
    return bits;
}

void feedMp3Unpacker(Mp3Unpacker& unpacker, const uint8_t* bytes, size_t count) {
    // Drop what was taken before appending, so the buffer holds at most a frame and a call's output.
    unpacker.input.erase(unpacker.input.begin(), unpacker.input.begin() + static_cast<std::ptrdiff_t>(unpacker.inputUsed));
    unpacker.inputUsed = 0;
    unpacker.input.insert(unpacker.input.end(), bytes, bytes + count);
}

bool takeUnpackedFrame(Mp3Unpacker& unpacker, std::vector<uint8_t>& frame) {
    if (unpacker.damaged) return false;
    const size_t available = unpacker.input.size() - unpacker.inputUsed;
    if (available < MP3_HEADER_BYTES) return false;
    const uint8_t* start = unpacker.input.data() + unpacker.inputUsed;
    Mp3FrameHeader header;
    if (!parseMp3FrameHeader(start, header)) {
        unpacker.damaged = true;
        return false;
    }
    if (available < header.frameBytes) return false;
    const uint8_t* side = start + MP3_HEADER_BYTES;
    const uint8_t* slot = side + header.sideInfoBytes;
    const size_t slotBytes = header.frameBytes - MP3_HEADER_BYTES - header.sideInfoBytes;
    const size_t reachBack = static_cast<size_t>(mp3MainDataBegin(header, side));
    const size_t mainBytes = (mp3MainDataBits(header, side) + 7) / 8;
    std::vector<uint8_t>& history = unpacker.slotHistory;
    // Main data never starts before the stream or runs on into a later frame.
    if (reachBack > history.size() || mainBytes > reachBack + slotBytes) {
        unpacker.damaged = true;
        return false;
    }
    frame.assign(start, slot);
    const size_t fromHistory = std::min(reachBack, mainBytes);
    frame.insert(frame.end(), history.end() - static_cast<std::ptrdiff_t>(reachBack),
                 history.end() - static_cast<std::ptrdiff_t>(reachBack - fromHistory));
    frame.insert(frame.end(), slot, slot + (mainBytes - fromHistory));
    history.insert(history.end(), slot, slot + slotBytes);
    if (history.size() > MP3_MAX_MAIN_DATA_BEGIN)
        history.erase(history.begin(), history.end() - MP3_MAX_MAIN_DATA_BEGIN);
    unpacker.inputUsed += header.frameBytes;
    return true;
}

size_t unpackedFrameBytes(const uint8_t* bytes, size_t available) {
    Mp3FrameHeader header;
    if (available < MP3_HEADER_BYTES || !parseMp3FrameHeader(bytes, header)) return 0;
    if (available < MP3_HEADER_BYTES + header.sideInfoBytes) return 0;
    return MP3_HEADER_BYTES + header.sideInfoBytes + (mp3MainDataBits(header, bytes + MP3_HEADER_BYTES) + 7) / 8;
}
