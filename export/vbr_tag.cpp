#include "export/vbr_tag.h"

#include <cmath>
#include <cstring>

#include "export/mp3_frames.h"

namespace {

// Offsets from the "Xing" identifier: flags, frame count, byte count, seek table, quality; the
// encoder's extension follows it.
constexpr size_t XING_FRAMES = 8;
constexpr size_t XING_BYTES = 12;
constexpr size_t XING_SEEK_TABLE = 16;
constexpr size_t XING_EXTENSION = 120;
// Offsets within the encoder's extension.
constexpr size_t EXT_DELAY_PADDING = 21;
constexpr size_t EXT_MUSIC_LENGTH = 28;
constexpr size_t EXT_MUSIC_CRC = 32;
constexpr size_t EXT_TAG_CRC = 34;
constexpr size_t EXT_BYTES = 36;

// Writes value as 4 big-endian bytes.
void putBigEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Writes value as 2 big-endian bytes.
void putBigEndian16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

}  // namespace

void addVbrSeekFrame(VbrSeekSums& sums, int kbps) {
    // The encoder's own sampling: keep a sum every `want` frames; when the samples are full,
    // keep every second one and sample half as often.
    ++sums.frames;
    sums.sum += static_cast<uint64_t>(kbps);
    if (++sums.seen < sums.want) return;
    if (sums.used < VBR_SEEK_SAMPLES) {
        sums.samples[sums.used++] = sums.sum;
        sums.seen = 0;
    }
    if (sums.used == VBR_SEEK_SAMPLES) {
        for (int i = 1; i < VBR_SEEK_SAMPLES; i += 2) sums.samples[i / 2] = sums.samples[i];
        sums.want *= 2;
        sums.used /= 2;
    }
}

std::vector<uint8_t> vbrSeekTable(const VbrSeekSums& sums) {
    std::vector<uint8_t> table(VBR_SEEK_ENTRIES, 0);
    if (sums.used <= 0) return table;
    for (int i = 1; i < VBR_SEEK_ENTRIES; ++i) {
        // Single precision where the encoder computes in it, so the tables agree to the entry.
        const float fraction = static_cast<float>(i) / static_cast<float>(VBR_SEEK_ENTRIES);
        int index = static_cast<int>(std::floor(fraction * static_cast<float>(sums.used)));
        if (index > sums.used - 1) index = sums.used - 1;
        const float reached = static_cast<float>(sums.samples[index]);
        const float total = static_cast<float>(sums.sum);
        const int point = static_cast<int>(256.0 * reached / total);
        table[static_cast<size_t>(i)] = static_cast<uint8_t>(point > 255 ? 255 : point);
    }
    return table;
}

uint16_t vbrCrc16(uint16_t crc, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

int64_t vbrPadding(uint64_t audioFrames, uint32_t samplesPerFrame, uint64_t inputSamples) {
    return static_cast<int64_t>(audioFrames * samplesPerFrame) - MP3_ENCODER_DELAY - static_cast<int64_t>(inputSamples);
}

bool completeVbrHeader(std::vector<uint8_t>& frame, const VbrStreamFacts& facts) {
    Mp3FrameHeader header;
    if (frame.size() < MP3_HEADER_BYTES || !parseMp3FrameHeader(frame.data(), header)) return false;
    const size_t xing = MP3_HEADER_BYTES + header.sideInfoBytes;
    const size_t extension = xing + XING_EXTENSION;
    if (frame.size() < extension + EXT_BYTES || frame.size() != header.frameBytes) return false;
    if (std::memcmp(&frame[xing], "Xing", 4) != 0 && std::memcmp(&frame[xing], "Info", 4) != 0) return false;
    if (std::memcmp(&frame[extension], "LAME", 4) != 0) return false;
    if (facts.padding < 0 || facts.padding > 0xFFF || facts.seekTable.size() != VBR_SEEK_ENTRIES) return false;
    if (facts.streamBytes > 0xFFFFFFFFu) return false;  // the fields hold 32 bits

    putBigEndian32(&frame[xing + XING_FRAMES], facts.audioFrames);
    putBigEndian32(&frame[xing + XING_BYTES], static_cast<uint32_t>(facts.streamBytes));
    std::memcpy(&frame[xing + XING_SEEK_TABLE], facts.seekTable.data(), VBR_SEEK_ENTRIES);
    // 12 bits of delay, kept as the encoder wrote it, then 12 bits of padding.
    uint8_t* delayPadding = &frame[extension + EXT_DELAY_PADDING];
    delayPadding[1] = static_cast<uint8_t>((delayPadding[1] & 0xF0) | (facts.padding >> 8));
    delayPadding[2] = static_cast<uint8_t>(facts.padding);
    putBigEndian32(&frame[extension + EXT_MUSIC_LENGTH], static_cast<uint32_t>(facts.streamBytes));
    putBigEndian16(&frame[extension + EXT_MUSIC_CRC], facts.musicCrc);
    putBigEndian16(&frame[extension + EXT_TAG_CRC], vbrCrc16(0, frame.data(), extension + EXT_TAG_CRC));
    return true;
}
