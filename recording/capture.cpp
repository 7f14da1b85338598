#include "recording/capture.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <fstream>
#include <string>
#include <vector>

#include "recording/audio_seam.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/sample_format.h"
#include "recording/wav_header.h"
#include "recording/wide_path.h"

CreateDeviceEnumerator createDeviceEnumerator = createSystemDeviceEnumerator;

namespace {

// The stream's buffer: one second, in the 100-nanosecond units of the audio client. It holds
// what arrives while a packet is being processed (its analysis included) and while the worker
// sleeps between passes, with a wide margin over the few milliseconds those take.
// NOTE: Wine's PulseAudio driver fills a buffer this long in bursts of up to a second and starts
// up to a second late, so under Wine a recording may miss up to a second at either end.
constexpr REFERENCE_TIME CAPTURE_BUFFER_DURATION = 10000000;
constexpr DWORD POLL_PAUSE_MS = 4;
// How often the header's sizes on disk are brought up to date while recording, so a killed
// program leaves a file that plays back all but the last moments.
constexpr ULONGLONG HEADER_REFRESH_MS = 500;
constexpr int32_t WAV_BITS_PER_SAMPLE = 16;

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

// The WAV file of one recording and the PCM bytes that really reached it.
struct WavOutput {
    std::ofstream file;
    std::wstring longPath;
    uint64_t bytesWritten = 0;
    uint64_t bytesInHeader = 0;
    ULONGLONG lastHeaderRefresh = 0;
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

// Writes the header with the given data length at the start of the file and returns to its end.
void writeHeaderInPlace(WavOutput& output, int32_t channels, uint64_t dataLength) {
    output.file.seekp(0, std::ios::beg);
    writeWavHeader(output.file, captureSampleRate, WAV_BITS_PER_SAMPLE, channels,
                   static_cast<uint32_t>(dataLength), false);
    output.file.seekp(0, std::ios::end);
}

// Opens the WAV file unbuffered, so every packet is one direct write and what is counted is on disk.
bool openWavFile(WavOutput& output, const std::wstring& path, int32_t channels) {
    // By its wide, extended-length path: a narrow name goes through the process's code page, which
    // is UTF-8 only on Windows 10 1903 and later, so on older ones other names came out garbled.
    output.longPath = longPathForm(path);
    output.file.rdbuf()->pubsetbuf(nullptr, 0);
    output.file.open(output.longPath.c_str(), std::ios::out | std::ios::binary | std::ios::trunc);
    if (!output.file.is_open()) return false;
    writeWavHeader(output.file, captureSampleRate, WAV_BITS_PER_SAMPLE, channels, 0, false);
    output.lastHeaderRefresh = GetTickCount64();
    return true;
}

// Brings the header's sizes on disk up to date when new data arrived and enough time has passed.
void refreshHeaderIfDue(WavOutput& output, int32_t channels) {
    const ULONGLONG now = GetTickCount64();
    if (now - output.lastHeaderRefresh < HEADER_REFRESH_MS || output.bytesWritten == output.bytesInHeader) return;
    // After a failed append the stream is left failed, so nothing lands behind a torn packet.
    if (!output.file) return;
    writeHeaderInPlace(output, channels, output.bytesWritten);
    output.bytesInHeader = output.bytesWritten;
    output.lastHeaderRefresh = now;
}

// Cuts the file at path to length bytes; returns false when that cannot be done.
bool truncateFile(const std::wstring& longPath, uint64_t length) {
    HANDLE file = CreateFileW(longPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(length);
    const bool cut = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return cut;
}

// Writes the final header over the placeholder and closes the file, which then ends where its
// header says; returns false when that could not be done.
bool finaliseWavFile(WavOutput& output, int32_t channels) {
    // A failed append leaves the stream failed; the header must still describe what is on disk.
    const bool appendFailed = !output.file;
    output.file.clear();
    output.file.seekp(0, std::ios::beg);
    writeWavHeader(output.file, captureSampleRate, WAV_BITS_PER_SAMPLE, channels,
                   static_cast<uint32_t>(output.bytesWritten), false);
    output.file.close();
    const bool headerWritten = !output.file.fail();
    // A failed append may have left part of its packet behind the counted data; a player or the
    // export would take that torn tail for audio.
    const bool endsAtItsData = !appendFailed || truncateFile(output.longPath, WAV_HEADER_BYTES + output.bytesWritten);
    return headerWritten && endsAtItsData;
}

// Hands one packet to the pipeline as floats: in place for float streams, converted otherwise.
void processCapturedPacket(const CaptureSession& session, const BYTE* data, UINT32 frames, DWORD flags,
                           WavOutput& output, HWND window) {
    const size_t sampleCount = static_cast<size_t>(frames) * static_cast<uint32_t>(session.channels);
    if (flags & AUDCLNT_BUFFERFLAGS_SILENT) {
        // The packet memory of a silent packet holds nothing meaningful.
        const std::vector<float> silence(sampleCount, 0.0f);
        processPacket(silence.data(), frames, session.channels, output.file, output.bytesWritten, window);
    } else if (session.encoding == SampleEncoding::Float32) {
        processPacket(reinterpret_cast<const float*>(data), frames, session.channels, output.file,
                      output.bytesWritten, window);
    } else {
        const std::vector<float> floats = samplesToFloats(data, sampleCount, session.encoding);
        processPacket(floats.data(), frames, session.channels, output.file, output.bytesWritten, window);
    }
}

// Processes every waiting packet. Ends the recording when the packet-size query fails (the device
// went away), when the next packet would overflow the WAV size fields, or when a write failed.
WPARAM drainPackets(const CaptureSession& session, WavOutput& output, HWND window) {
    UINT32 packetFrames = 0;
    if (FAILED(session.captureClient->GetNextPacketSize(&packetFrames))) return RECORDING_DEVICE_LOST;
    while (packetFrames != 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        if (FAILED(session.captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr))) break;
        const bool fits = packetFitsInWav(output.bytesWritten, frames, session.channels);
        if (fits) processCapturedPacket(session, data, frames, flags, output, window);
        // NOTE: a failed release leaves nothing to undo; the next GetBuffer reports the stream's state.
        (void)session.captureClient->ReleaseBuffer(frames);
        if (!fits) return RECORDING_SIZE_LIMIT;
        // A failed write leaves the stream failed, so nothing later could be kept.
        if (!output.file) return RECORDING_WRITE_FAILED;
        if (FAILED(session.captureClient->GetNextPacketSize(&packetFrames))) break;
    }
    return RECORDING_SAVED;
}

// Polls the stream until isRecording is lowered or the recording cannot go on.
WPARAM captureLoop(const CaptureSession& session, WavOutput& output, HWND window) {
    while (isRecording.load()) {
        const WPARAM ending = drainPackets(session, output, window);
        if (ending != RECORDING_SAVED) return ending;
        refreshHeaderIfDue(output, session.channels);
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
// bytesKept is the PCM data the file holds.
WPARAM recordStream(const CaptureSession& session, const std::wstring& path, HWND window, uint64_t& bytesKept) {
    WavOutput output;
    if (!openWavFile(output, path, session.channels)) return RECORDING_FILE_NOT_CREATED;
    enterRecordingState();
    PostMessageW(window, WM_RECORDING_STARTED, 0, 0);
    WPARAM outcome = captureLoop(session, output, window);
    // NOTE: Stop's status changes nothing: the stream is released right after either way.
    (void)session.audioClient->Stop();
    if (!finaliseWavFile(output, session.channels) && outcome == RECORDING_SAVED) outcome = RECORDING_WRITE_FAILED;
    bytesKept = output.bytesWritten;
    // A device that delivered nothing would otherwise be reported as a saved recording.
    if (outcome == RECORDING_SAVED && bytesKept == 0) outcome = RECORDING_NO_AUDIO;
    return outcome;
}

}  // namespace

HRESULT createSystemDeviceEnumerator(IMMDeviceEnumerator** enumerator) {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            reinterpret_cast<void**>(enumerator));
}

void recordAudio(std::wstring path, HWND window) {
    captureActive.store(true);
    // A failed CoInitialize makes the first COM call fail, which ends the run cleanly; only a
    // successful one may be balanced by CoUninitialize.
    const HRESULT comStatus = CoInitialize(nullptr);

    CaptureSession session;
    uint64_t bytesKept = 0;
    WPARAM outcome = openEndpoint(session);
    if (outcome == RECORDING_SAVED) outcome = startStream(session);
    if (outcome == RECORDING_SAVED) outcome = recordStream(session, path, window, bytesKept);
    const uint64_t keptMs = audioMilliseconds(bytesKept, captureSampleRate, session.channels);
    releaseSession(session);

    if (SUCCEEDED(comStatus)) CoUninitialize();
    captureActive.store(false);
    PostMessageW(window, WM_RECORDING_SAVED, outcome, static_cast<LPARAM>(keptMs));
}
