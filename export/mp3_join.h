// The pure join of the parallel export: frames that each carry their own main data (from
// several encoders) are laid into one stream anew, each frame's bitrate and main_data_begin
// chosen so that all main data fits and the bit reservoir is used as one encoder would use it.
// Nothing is re-quantised: every frame decodes from exactly the bits it came with.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "export/mp3_frames.h"

// The encoder's own limits for one stream, which the joined stream keeps too: the highest
// bitrate index it uses and how far main data may reach back.
struct Mp3PackingLimits {
    bool mpeg1 = true;
    int sampleRate = 0;
    int maxBitrateIndex = 14;
    int reservoirLimit = 0;  // bytes main_data_begin may reach back, at most
    uint32_t sideInfoBytes = 0;
};

// Returns the encoder's limits for a stream of frames like header: bitrates up to 320 kbps
// (MPEG-1) or 160 kbps (MPEG-2), 64 kbps below 16 kHz; and a reservoir that, with the largest
// frame, stays within the decoder buffer of 7680 bits per granule and main_data_begin's range.
// (The encoder's own streams reach back exactly that far at most: 511 bytes at 44.1 and 48 kHz,
// 480 at 32 kHz, 255 at 22.05 kHz, 240 at 16 kHz.)
Mp3PackingLimits mp3PackingLimits(const Mp3FrameHeader& header);

// One frame waiting to be laid out, and the reservoir it needs on entry.
struct Mp3PendingFrame {
    std::vector<uint8_t> bytes;  // header, side information, main data
    int mainBytes = 0;
    int need = 0;
};

// The state of one join: frames waiting until the reservoir they need is known, and the output
// bytes that later frames may still write their main data into.
struct Mp3Repacker {
    Mp3PackingLimits limits;
    std::deque<Mp3PendingFrame> pending;
    std::vector<uint8_t> open;         // output not yet final
    std::deque<int64_t> openSlotStart;  // per open frame: main-data position of its slot ...
    std::deque<size_t> openSlotOffset;  // ... and that slot's offset in open
    std::deque<int> openSlotBytes;
    int64_t slotsEnd = 0;  // main-data position where the next frame's slot starts
    int64_t dataEnd = 0;   // main-data position where the main data laid so far ends
    std::vector<uint8_t> ready;      // final output bytes, for the caller to take
    std::vector<int> laidFrameKbps;  // the bitrate of each frame laid, in order, for the caller to take
    bool failed = false;              // a frame could not be laid: not the encoder's frames
};

// The most frames held before the reservoir they need is known (the encoder's streams settle it
// within a few frames); beyond it the join plans for a full reservoir after the last one held.
constexpr size_t MP3_REPACK_WINDOW_FRAMES = 2048;

// Starts a join of frames within the given limits.
void startMp3Repacker(Mp3Repacker& repacker, const Mp3PackingLimits& limits);

// Adds one unpacked frame (as takeUnpackedFrame gives it); frames that can be laid are laid
// and their final bytes appended to ready. Returns false once the join has failed.
bool pushMp3Frame(Mp3Repacker& repacker, std::vector<uint8_t> frame);

// Lays every frame still waiting and makes all output final. Returns false when the join failed.
bool finishMp3Repacker(Mp3Repacker& repacker);
