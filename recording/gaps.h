// Counting the holes in a recording: where the device lost audio before the worker read it (a
// packet flagged as a discontinuity) and where the worker had to drop packets because the
// writer's queue was full. Pure bookkeeping, so tests reach it with tables.
#pragma once

#include <cstdint>

struct GapTally {
    uint64_t gaps = 0;           // separate holes in the file
    uint64_t missingFrames = 0;  // frames known to be missing in them
    bool lengthUnknown = false;  // some hole's length could not be measured
    uint64_t packets = 0;        // packets seen so far
    bool dropping = false;       // the previous packet was dropped
    uint64_t nextPosition = 0;   // the device position the next packet should start at
};

// Notes one packet from the device: whether it was flagged as following lost audio, its device
// position in frames (0 when the device gives none), its frames and whether it was queued for the
// file. Adjacent losses of both kinds make one hole.
void notePacket(GapTally& tally, bool discontinuity, uint64_t devicePosition, uint32_t frames, bool queued);

// Returns the milliseconds that frames last at the rate, rounded to the nearest; 0 for no rate.
uint64_t framesToMilliseconds(uint64_t frames, int32_t sampleRate);
