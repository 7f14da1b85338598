// The pure MP3 frame reader of the parallel export: frame headers, the side information's
// fields that locate a frame's main data, and the unpacking of a stream into frames that each
// carry their own main data (so frames from several encoders can be laid out anew).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of a Layer III frame header; frames made by the encoder carry no CRC after it.
constexpr size_t MP3_HEADER_BYTES = 4;
// The most bytes a frame may reach back into earlier frames for its main data: the 9 bits of
// main_data_begin in MPEG-1 (8 bits in MPEG-2 and 2.5 allow 255).
constexpr int MP3_MAX_MAIN_DATA_BEGIN = 511;

// What the 4 header bytes of one Layer III frame say.
struct Mp3FrameHeader {
    bool mpeg1 = false;             // false: MPEG-2 or 2.5 (one granule per frame)
    int bitrateIndex = 0;           // 1..14
    int sampleRate = 0;
    int channels = 0;               // 1 or 2
    bool padded = false;
    uint32_t samplesPerFrame = 0;   // 1152 or 576
    uint32_t frameBytes = 0;        // header, side information and main-data slot
    uint32_t sideInfoBytes = 0;     // 32/17 (MPEG-1 stereo/mono), 17/9 (MPEG-2, 2.5)
};

// Parses the 4 header bytes at bytes; false unless it is a Layer III frame without CRC, with a
// listed bitrate (free format is not made by the encoder) and a valid sample rate.
bool parseMp3FrameHeader(const uint8_t* bytes, Mp3FrameHeader& header);

// Returns the bytes of a frame of that kind at bitrateIndex without padding (0 for an index
// outside 1..14).
uint32_t mp3FrameBytesAt(bool mpeg1, int sampleRate, int bitrateIndex);

// Returns the kilobits per second of a bitrate index (0 outside 1..14).
int mp3BitrateKbps(bool mpeg1, int bitrateIndex);

// Returns main_data_begin: how many bytes before the frame's slot its main data starts.
int mp3MainDataBegin(const Mp3FrameHeader& header, const uint8_t* sideInfo);

// Writes main_data_begin into the side information, leaving every other bit as it was.
void setMp3MainDataBegin(const Mp3FrameHeader& header, uint8_t* sideInfo, int mainDataBegin);

// Returns the bits of main data of all granules and channels of a frame: the sum of their
// part2_3_length fields.
uint32_t mp3MainDataBits(const Mp3FrameHeader& header, const uint8_t* sideInfo);

// A stream cut into frames that each hold their own main data: what is left of the input that
// is not yet a whole frame, and the last main-data slot bytes, which later frames may reach
// back into.
struct Mp3Unpacker {
    std::vector<uint8_t> input;
    size_t inputUsed = 0;
    std::vector<uint8_t> slotHistory;
    bool damaged = false;  // a frame could not be read: the stream is not the encoder's
};

// Adds encoder output to the unpacker.
void feedMp3Unpacker(Mp3Unpacker& unpacker, const uint8_t* bytes, size_t count);

// Takes the next whole frame as header, side information and its main data (exactly as many
// bytes as its granules use, main_data_begin left as it was); false when no whole frame is
// waiting or the stream is damaged (then unpacker.damaged is set).
bool takeUnpackedFrame(Mp3Unpacker& unpacker, std::vector<uint8_t>& frame);

// Returns the bytes of an unpacked frame whose header and side information begin at bytes
// (at least header and side information must be there); 0 when the header is not valid.
size_t unpackedFrameBytes(const uint8_t* bytes, size_t available);
