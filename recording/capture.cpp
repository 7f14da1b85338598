#include "recording/capture.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <string>
#include <vector>

#include "recording/audio_seam.h"
#include "recording/gaps.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/sample_format.h"
#include "recording/wav_writer.h"

CreateDeviceEnumerator createDeviceEnumerator = createSystemDeviceEnumerator;

namespace {

// The stream's buffer: one second, in the 100-nanosecond units of the audio client. It holds
// what arrives while a packet is being processed (its analysis included) and while the worker
// sleeps between passes, with a wide margin over the few milliseconds those take.
// NOTE: Wine's PulseAudio driver fills a buffer this long in bursts of up to a second and starts
// up to a second late, so under Wine a recording may miss up to a second at either end.
constexpr REFERENCE_TIME CAPTURE_BUFFER_DURATION = 10000000;
constexpr DWORD POLL_PAUSE_MS = 4;

// Everything one recording obtains from the audio platform; each pointer stays null until obtained.
struct CaptureSession {
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* audioClient = nullptr;
    IAudioCaptureClient* captureClient = nullptr;
    WAVEFORMATEX* mixFormat = nullptr;
    SampleEncoding encoding = SampleEncoding::Unsupported;
    int32_t channels = 0;
};

// What the capture worker knows of one recording: the PCM bytes it queued and the holes so far.
struct CaptureTally {
    uint64_t bytesQueued = 0;
    GapTally gaps;
};

// The steps below return RECORDING_SAVED while nothing has gone wrong, else the outcome that ends
// the recording.

// Returns the outcome of a device call that failed with status: Windows' own refusals (its
// microphone privacy switch, another program's exclusive hold) each tell the user what to do.
WPARAM deviceFailure(HRESULT status) {
    if (status == E_ACCESSDENIED) return RECORDING_ACCESS_DENIED;
    if (status == AUDCLNT_E_DEVICE_IN_USE) return RECORDING_DEVICE_IN_USE;
    return RECORDING_DEVICE_FAILED;
}

// Finds the default capture endpoint, activates an audio client on it and reads its mix format.
WPARAM openEndpoint(CaptureSession& session) {
    if (FAILED(createDeviceEnumerator(&session.enumerator))) return RECORDING_DEVICE_FAILED;
    if (FAILED(session.enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &session.device)))
        return RECORDING_NO_DEVICE;
    const HRESULT activated = session.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                                       reinterpret_cast<void**>(&session.audioClient));
    if (FAILED(activated)) return deviceFailure(activated);
    const HRESULT formatRead = session.audioClient->GetMixFormat(&session.mixFormat);
    if (FAILED(formatRead)) return deviceFailure(formatRead);
    session.channels = session.mixFormat->nChannels;
    captureSampleRate = static_cast<int32_t>(session.mixFormat->nSamplesPerSec);
    displaySampleRate.store(captureSampleRate);
    session.encoding = sampleEncodingOf(*session.mixFormat);
    // A format whose samples cannot be read exactly would record noise: refuse it.
    return session.encoding == SampleEncoding::Unsupported ? RECORDING_FORMAT_UNSUPPORTED : RECORDING_SAVED;
}

// Initialises a shared-mode stream in the mix format, gets its capture client and starts it.
WPARAM startStream(CaptureSession& session) {
    const HRESULT initialised = session.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, CAPTURE_BUFFER_DURATION,
                                                                0, session.mixFormat, nullptr);
    if (initialised == AUDCLNT_E_UNSUPPORTED_FORMAT) return RECORDING_FORMAT_UNSUPPORTED;
    if (FAILED(initialised)) return deviceFailure(initialised);
    const HRESULT serviceFound = session.audioClient->GetService(__uuidof(IAudioCaptureClient),
                                                                reinterpret_cast<void**>(&session.captureClient));
    if (FAILED(serviceFound)) return deviceFailure(serviceFound);
    const HRESULT started = session.audioClient->Start();
    return SUCCEEDED(started) ? RECORDING_SAVED : deviceFailure(started);
}

// Releases what the session obtained, mix format first, each only if it was obtained.
void releaseSession(CaptureSession& session) {
    if (session.mixFormat) CoTaskMemFree(session.mixFormat);
    if (session.captureClient) session.captureClient->Release();
    if (session.audioClient) session.audioClient->Release();
    if (session.device) session.device->Release();
    if (session.enumerator) session.enumerator->Release();
    session = CaptureSession{};
}

// Hands one packet to the pipeline as floats: in place for float streams, converted otherwise.
// Returns true when its PCM was queued for the file.
bool processCapturedPacket(const CaptureSession& session, const BYTE* data, UINT32 frames, DWORD flags,
                           PcmQueue& queue, HWND window) {
    const size_t sampleCount = static_cast<size_t>(frames) * static_cast<uint32_t>(session.channels);
    if (flags & AUDCLNT_BUFFERFLAGS_SILENT) {
        // The packet memory of a silent packet holds nothing meaningful.
        const std::vector<float> silence(sampleCount, 0.0f);
        return processPacket(silence.data(), frames, session.channels, queue, window);
    }
    if (session.encoding == SampleEncoding::Float32) {
        return processPacket(reinterpret_cast<const float*>(data), frames, session.channels, queue, window);
    }
    const std::vector<float> floats = samplesToFloats(data, sampleCount, session.encoding);
    return processPacket(floats.data(), frames, session.channels, queue, window);
}

// Processes every waiting packet. Ends the recording when the packet-size query fails (the device
// went away), when the next packet would overflow the WAV size fields, or when a write failed.
// A full queue only drops the packet, and counts it: the device is drained whatever the disk does.
WPARAM drainPackets(const CaptureSession& session, WavWriter& writer, CaptureTally& tally, HWND window) {
    UINT32 packetFrames = 0;
    if (FAILED(session.captureClient->GetNextPacketSize(&packetFrames))) return RECORDING_DEVICE_LOST;
    while (packetFrames != 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 devicePosition = 0;
        if (FAILED(session.captureClient->GetBuffer(&data, &frames, &flags, &devicePosition, nullptr))) break;
        const bool fits = packetFitsInWav(tally.bytesQueued, frames, session.channels);
        if (fits) {
            const bool queued = processCapturedPacket(session, data, frames, flags, writer.queue, window);
            if (queued) {
                tally.bytesQueued += static_cast<uint64_t>(frames) * session.channels * sizeof(int16_t);
                recordingBytesQueued.store(tally.bytesQueued);
            }
            notePacket(tally.gaps, (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0, devicePosition, frames,
                       queued);
        }
        // NOTE: a failed release leaves nothing to undo; the next GetBuffer reports the stream's state.
        (void)session.captureClient->ReleaseBuffer(frames);
        if (!fits) return RECORDING_SIZE_LIMIT;
        // After a failed write nothing later could be kept.
        if (writer.failed.load()) return RECORDING_WRITE_FAILED;
        if (FAILED(session.captureClient->GetNextPacketSize(&packetFrames))) break;
    }
    return RECORDING_SAVED;
}

// Polls the stream until isRecording is lowered or the recording cannot go on.
WPARAM captureLoop(const CaptureSession& session, WavWriter& writer, CaptureTally& tally, HWND window) {
    while (isRecording.load()) {
        const WPARAM ending = drainPackets(session, writer, tally, window);
        if (ending != RECORDING_SAVED) return ending;
        if (writer.failed.load()) return RECORDING_WRITE_FAILED;
        Sleep(POLL_PAUSE_MS);
    }
    return RECORDING_SAVED;
}

// Raises isRecording, unless a stop arrived while the worker was still setting up.
void enterRecordingState() {
    isRecording.store(true);
    if (stopRequested.load()) isRecording.store(false);
}

// Records from the started stream into the file at path and returns how the recording ended;
// bytesKept is the PCM data the file holds, gaps the holes in it.
WPARAM recordStream(const CaptureSession& session, const std::wstring& path, HWND window, uint64_t& bytesKept,
                    GapTally& gaps) {
    WavWriter writer;
    if (!startWavWriter(writer, path, captureSampleRate, session.channels)) return RECORDING_FILE_NOT_CREATED;
    recordingBytesPerSecond.store(static_cast<uint32_t>(captureSampleRate) * static_cast<uint32_t>(session.channels) *
                                  sizeof(int16_t));
    enterRecordingState();
    PostMessageW(window, WM_RECORDING_STARTED, 0, 0);
    CaptureTally tally;
    WPARAM outcome = captureLoop(session, writer, tally, window);
    // NOTE: Stop's status changes nothing: the stream is released right after either way.
    (void)session.audioClient->Stop();
    // The file is complete only once the writer has caught up, however long the disk takes.
    if (!finishWavWriter(writer) && outcome == RECORDING_SAVED) outcome = RECORDING_WRITE_FAILED;
    bytesKept = writer.bytesOnDisk;
    gaps = tally.gaps;
    // A device that delivered nothing would otherwise be reported as a saved recording; audio
    // that arrived and was lost is told as gaps instead.
    if (outcome == RECORDING_SAVED && bytesKept == 0 && gaps.gaps == 0) outcome = RECORDING_NO_AUDIO;
    return outcome;
}

// Forgets the figures of the last recording before a new one starts.
void resetRecordingFigures() {
    recordingBytesPerSecond.store(0);
    recordingBytesQueued.store(0);
    recordingBytesOnDisk.store(0);
    recordingDiskLimitBytes.store(RECORDING_DISK_UNKNOWN);
}

// Publishes the holes of the recording that is ending, for the status line.
void publishGaps(const GapTally& gaps, int32_t sampleRate) {
    lastRecordingGaps.store(gaps.gaps);
    lastRecordingMissingMs.store(framesToMilliseconds(gaps.missingFrames, sampleRate));
    lastRecordingGapLengthUnknown.store(gaps.lengthUnknown);
}

}  // namespace

HRESULT createSystemDeviceEnumerator(IMMDeviceEnumerator** enumerator) {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            reinterpret_cast<void**>(enumerator));
}

void recordAudio(std::wstring path, HWND window) {
    captureActive.store(true);
    resetRecordingFigures();
    // A failed CoInitialize makes the first COM call fail, which ends the run cleanly; only a
    // successful one may be balanced by CoUninitialize.
    const HRESULT comStatus = CoInitialize(nullptr);

    CaptureSession session;
    uint64_t bytesKept = 0;
    GapTally gaps;
    WPARAM outcome = openEndpoint(session);
    if (outcome == RECORDING_SAVED) outcome = startStream(session);
    if (outcome == RECORDING_SAVED) outcome = recordStream(session, path, window, bytesKept, gaps);
    const uint64_t keptMs = audioMilliseconds(bytesKept, captureSampleRate, session.channels);
    publishGaps(gaps, captureSampleRate);
    releaseSession(session);

    if (SUCCEEDED(comStatus)) CoUninitialize();
    captureActive.store(false);
    PostMessageW(window, WM_RECORDING_SAVED, outcome, static_cast<LPARAM>(keptMs));
}
