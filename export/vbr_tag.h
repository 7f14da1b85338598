// The pure VBR header of a joined stream: the first frame, which tells players how many frames
// and bytes follow, where to seek, and (in the encoder's extension) how many samples of delay
// and padding a gapless decoder drops. Laid out as the encoder lays out its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Entries of the seek table; the table's positions are sampled frame sums, halved as they fill.
constexpr int VBR_SEEK_ENTRIES = 100;
constexpr int VBR_SEEK_SAMPLES = 400;
// The encoder's delay: the samples of silence it puts before the audio.
constexpr int MP3_ENCODER_DELAY = 576;

// The running sums the seek table is made from: every frame's bitrate, sampled as the encoder
// samples them, so the memory stays the same however long the stream.
struct VbrSeekSums {
    uint32_t frames = 0;
    uint64_t sum = 0;
    int seen = 0;
    int want = 1;
    int used = 0;
    uint64_t samples[VBR_SEEK_SAMPLES] = {};
};

// Counts one frame of kbps kilobits per second.
void addVbrSeekFrame(VbrSeekSums& sums, int kbps);

// Returns the 100-entry seek table: entry i is where, in 256ths of the stream, i % of it begins.
std::vector<uint8_t> vbrSeekTable(const VbrSeekSums& sums);

// Returns the CRC-16 (polynomial 0x8005, reflected, start 0) of bytes continued from crc, the
// check the encoder's extension uses for the music and for the tag itself.
uint16_t vbrCrc16(uint16_t crc, const uint8_t* bytes, size_t count);

// What the VBR header says of the stream that follows it.
struct VbrStreamFacts {
    uint32_t audioFrames = 0;  // frames after the header frame
    uint64_t streamBytes = 0;  // the whole stream, header frame included
    int padding = 0;           // samples after the audio in the last frame
    uint16_t musicCrc = 0;     // CRC of every byte after the header frame
    std::vector<uint8_t> seekTable;
};

// Returns the padding of a stream of audioFrames frames of samplesPerFrame holding
// inputSamples samples after the encoder's delay; negative when they cannot hold them.
int64_t vbrPadding(uint64_t audioFrames, uint32_t samplesPerFrame, uint64_t inputSamples);

// Fills the stream's facts into a header frame the encoder made for a stream of the same
// settings (its "Xing" header and extension; its other fields describe the settings and stay),
// and recomputes the tag's own CRC. Returns false when the frame is not such a header.
bool completeVbrHeader(std::vector<uint8_t>& headerFrame, const VbrStreamFacts& facts);
