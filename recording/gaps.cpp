#include "recording/gaps.h"

void notePacket(GapTally& tally, bool discontinuity, uint64_t devicePosition, uint32_t frames, bool queued) {
    // NOTE: an empty buffer (AUDCLNT_S_BUFFER_EMPTY) succeeds with no frames and no position;
    // it holds nothing, and its missing position must not become the next expected one.
    if (frames == 0) return;
    // NOTE: the first packet after a stream starts may carry the discontinuity flag (a stream
    // state change); nothing was recorded before it, so nothing is missing.
    const bool lostBefore = discontinuity && tally.packets > 0;
    if ((lostBefore || !queued) && !tally.dropping) ++tally.gaps;
    if (lostBefore) {
        if (devicePosition > tally.nextPosition) {
            tally.missingFrames += devicePosition - tally.nextPosition;
        } else {
            tally.lengthUnknown = true;
        }
    }
    if (!queued) tally.missingFrames += frames;
    tally.dropping = !queued;
    tally.nextPosition = devicePosition + frames;
    ++tally.packets;
}

uint64_t framesToMilliseconds(uint64_t frames, int32_t sampleRate) {
    if (sampleRate <= 0) return 0;
    const uint64_t rate = static_cast<uint64_t>(sampleRate);
    return (frames * 1000 + rate / 2) / rate;
}
