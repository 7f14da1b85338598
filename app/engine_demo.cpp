// A small stand-in for the application shell: pushes two seconds of a synthetic 440 Hz stereo
// tone through the real packet pipeline into "voxtrel-demo.wav" and reports what came out.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "analysis/spectrum.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/wav_header.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    constexpr int rate = 48000;
    constexpr int channels = 2;
    constexpr uint32_t framesPerPacket = 480;
    captureSampleRate = rate;

    std::ofstream wav("voxtrel-demo.wav", std::ios::binary | std::ios::trunc);
    writeWavHeader(wav, rate, 16, channels, 0, false);
    uint64_t bytesWritten = 0;
    std::vector<float> packet(framesPerPacket * channels);
    for (uint32_t first = 0; first < 2 * rate; first += framesPerPacket) {
        for (uint32_t f = 0; f < framesPerPacket; ++f) {
            const float s = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(first + f) / rate);
            packet[f * channels] = s;
            packet[f * channels + 1] = -s;
        }
        processPacket(packet.data(), framesPerPacket, channels, wav, bytesWritten, nullptr);
    }
    wav.seekp(0, std::ios::beg);
    writeWavHeader(wav, rate, 16, channels, static_cast<uint32_t>(bytesWritten), false);
    wav.close();

    size_t peak = 0;
    {
        std::lock_guard<std::mutex> guard(spectrumMutex);
        for (size_t k = 1; k < spectrumData.size(); ++k)
            if (spectrumData[k] > spectrumData[peak]) peak = k;
    }
    wchar_t text[256];
    swprintf(text, 256, L"Wrote voxtrel-demo.wav: %llu data bytes.\nLevel %.3f, spectrum peak near %.0f Hz.",
             static_cast<unsigned long long>(bytesWritten), static_cast<double>(inputLevel.load()),
             static_cast<double>(binFrequency(peak, rate)));
    MessageBoxW(nullptr, text, L"Voxtrel engine demo", MB_ICONINFORMATION);
    return 0;
}
