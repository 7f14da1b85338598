#include "export_test_helpers.h"

#include <gtest/gtest.h>

#include <lame/lame.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "export/mp3_export.h"
#include "export/mp3_frames.h"
#include "recording/wav_header.h"

namespace {

// The text control of a message box.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

struct BoxSearch {
    std::vector<ShownBox>* boxes;
    std::vector<HWND>* handled;
    int dismissed;
};

struct IconSearch {
    HICON wanted;
    bool found;
};

// Marks the search found when the child is an icon control showing the wanted icon.
BOOL CALLBACK visitBoxChild(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<IconSearch*>(param);
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == search->wanted) {
        search->found = true;
    }
    return TRUE;
}

// Returns true when the box shows the system's error icon.
bool showsErrorIcon(HWND box) {
    IconSearch search{LoadIconW(nullptr, IDI_ERROR), false};
    EnumChildWindows(box, visitBoxChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Records and dismisses one ready message box; keeps enumerating.
BOOL CALLBACK visitThreadWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wstring(className) != L"#32770") return TRUE;
    if (std::find(search->handled->begin(), search->handled->end(), window) != search->handled->end()) return TRUE;
    wchar_t text[512] = {};
    if (GetDlgItemTextW(window, MESSAGE_BOX_TEXT_ID, text, 512) == 0) return TRUE;  // still being built
    wchar_t caption[128] = {};
    GetWindowTextW(window, caption, 128);
    ShownBox box;
    box.text = text;
    box.caption = caption;
    box.hasOwner = GetWindow(window, GW_OWNER) != nullptr;
    box.hasErrorIcon = showsErrorIcon(window);
    search->boxes->push_back(box);
    search->handled->push_back(window);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    ++search->dismissed;
    return TRUE;
}

// Reads a big-endian 32-bit frame header at offset.
uint32_t headerAt(const std::vector<unsigned char>& bytes, size_t offset) {
    return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
           (uint32_t{bytes[offset + 2]} << 8) | uint32_t{bytes[offset + 3]};
}

}  // namespace

int dismissBoxesOfThread(DWORD threadId, std::vector<ShownBox>& boxes, std::vector<HWND>& handled) {
    BoxSearch search{&boxes, &handled, 0};
    EnumThreadWindows(threadId, visitThreadWindow, reinterpret_cast<LPARAM>(&search));
    return search.dismissed;
}

ExportOutcome runWatchedExport(const std::wstring& mp3Path, const std::wstring& wavPath, DWORD timeoutMs,
                               HWND notifyWindow, WPARAM exportId) {
    struct Shared {
        std::atomic<DWORD> threadId{0};
        std::atomic<bool> done{false};
    };
    auto shared = std::make_shared<Shared>();
    std::thread job([shared, mp3Path, wavPath, notifyWindow, exportId] {
        shared->threadId = GetCurrentThreadId();
        exportToMp3(mp3Path, wavPath, notifyWindow, exportId);
        shared->done = true;
    });
    ExportOutcome outcome;
    std::vector<HWND> handled;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!shared->done && GetTickCount64() < deadline) {
        if (shared->threadId != 0) dismissBoxesOfThread(shared->threadId, outcome.boxes, handled);
        Sleep(1);
    }
    outcome.finished = shared->done;
    if (outcome.finished) job.join();
    else job.detach();  // a hung job is reported; the shared state outlives it
    return outcome;
}

std::vector<int16_t> sineSamples(uint32_t frames, int32_t channels, int32_t rate, double leftHz, double rightHz) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    for (uint32_t frame = 0; frame < frames; ++frame) {
        for (int32_t channel = 0; channel < channels; ++channel) {
            const double hz = channel == 0 ? leftHz : rightHz;
            samples[static_cast<size_t>(frame) * channels + channel] =
                static_cast<int16_t>(16383.0 * std::sin(2.0 * 3.14159265358979323846 * hz * frame / rate));
        }
    }
    return samples;
}

void writeWavFile(const std::filesystem::path& path, int32_t rate, int32_t channels,
                  const std::vector<int16_t>& samples, const std::vector<unsigned char>& extra) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2 + extra.size());
    writeWavHeader(out, rate, 16, channels, dataBytes, false);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    out.write(reinterpret_cast<const char*>(extra.data()), static_cast<std::streamsize>(extra.size()));
}

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::wstring> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<unsigned char> referenceMp3(const std::vector<int16_t>& interleaved, int32_t channels, int32_t rate) {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_VBR(lame, vbr_default);
    lame_init_params(lame);
    const int frames = static_cast<int>(interleaved.size() / channels);
    std::vector<short> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = interleaved[static_cast<size_t>(i) * channels];
        if (channels == 2) right[i] = interleaved[static_cast<size_t>(i) * 2 + 1];
    }
    // Room for what the encoder makes of input it resamples up to 8000 Hz, and for its flush.
    const size_t upsampling = rate < 8000 ? static_cast<size_t>((8000 + rate - 1) / rate) : 1;
    std::vector<unsigned char> mp3(static_cast<size_t>(frames) * upsampling * 5 / 4 + 7200 + 65536);
    int used = lame_encode_buffer(lame, left.data(), channels == 2 ? right.data() : nullptr, frames, mp3.data(),
                                  static_cast<int>(mp3.size()));
    used += lame_encode_flush(lame, mp3.data() + used, static_cast<int>(mp3.size()) - used);
    mp3.resize(static_cast<size_t>(used));
    std::vector<unsigned char> tag(8192);
    const size_t tagBytes = lame_get_lametag_frame(lame, tag.data(), tag.size());
    std::copy(tag.begin(), tag.begin() + static_cast<std::ptrdiff_t>(tagBytes), mp3.begin());
    lame_close(lame);
    return mp3;
}

Mp3Frames walkMp3Frames(const std::vector<unsigned char>& bytes) {
    static const int bitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int bitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int ratesV1[3] = {44100, 48000, 32000};
    Mp3Frames result;
    size_t offset = 0;
    while (offset + 4 <= bytes.size()) {
        const uint32_t header = headerAt(bytes, offset);
        const uint32_t version = (header >> 19) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const uint32_t bitrateIndex = (header >> 12) & 15;
        const uint32_t rateIndex = (header >> 10) & 3;
        if ((header >> 21) != 0x7FF || version == 1 || ((header >> 17) & 3) != 1 || bitrateIndex == 0 ||
            bitrateIndex == 15 || rateIndex == 3) {
            return result;
        }
        const bool mpeg1 = version == 3;
        const uint32_t rate = ratesV1[rateIndex] / (mpeg1 ? 1 : version == 2 ? 2 : 4);
        const uint32_t bitrate = 1000u * (mpeg1 ? bitratesV1[bitrateIndex] : bitratesV2[bitrateIndex]);
        const uint32_t length = (mpeg1 ? 144 : 72) * bitrate / rate + ((header >> 9) & 1);
        if (result.frames > 0 && rate != result.sampleRate) return result;
        result.sampleRate = rate;
        result.samplesPerFrame = mpeg1 ? 1152 : 576;
        ++result.frames;
        offset += length;
    }
    result.wellFormed = offset == bytes.size() && result.frames > 0;
    return result;
}

namespace {

// Returns the frames of a stream as decoders see them: every bit that decides the samples, with
// the bitrate, padding, main_data_begin and the unused bits of the last main-data byte cleared.
std::vector<std::vector<uint8_t>> decodedContent(const std::vector<unsigned char>& mp3) {
    Mp3Unpacker unpacker;
    feedMp3Unpacker(unpacker, mp3.data(), mp3.size());
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> frame;
    while (takeUnpackedFrame(unpacker, frame)) {
        Mp3FrameHeader header;
        parseMp3FrameHeader(frame.data(), header);
        const uint32_t bits = mp3MainDataBits(header, frame.data() + 4);
        frame[2] &= 0x0D;
        setMp3MainDataBegin(header, frame.data() + 4, 0);
        if (bits % 8 != 0) frame.back() &= static_cast<uint8_t>(0xFF << (8 - bits % 8));
        frames.push_back(frame);
    }
    EXPECT_FALSE(unpacker.damaged);
    EXPECT_EQ(unpacker.inputUsed, mp3.size()) << "the stream is whole frames";
    return frames;
}

// Returns the VBR header's frame count and its 3 bytes of delay and padding.
std::vector<uint8_t> gaplessFields(const std::vector<unsigned char>& mp3) {
    Mp3FrameHeader header;
    if (mp3.size() < 4 || !parseMp3FrameHeader(mp3.data(), header) || mp3.size() < header.frameBytes) return {};
    const size_t xing = 4 + header.sideInfoBytes;
    std::vector<uint8_t> fields(mp3.begin() + xing + 8, mp3.begin() + xing + 12);
    fields.insert(fields.end(), mp3.begin() + xing + 120 + 21, mp3.begin() + xing + 120 + 24);
    return fields;
}

}  // namespace

void expectDecodesAlike(const std::vector<unsigned char>& mp3, const std::vector<unsigned char>& reference) {
    const auto got = decodedContent(mp3), want = decodedContent(reference);
    ASSERT_EQ(got.size(), want.size()) << "frames";
    ASSERT_FALSE(got.empty());
    for (size_t i = 1; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "audio frame " << i - 1 << " differs";
    EXPECT_EQ(gaplessFields(mp3), gaplessFields(reference)) << "frame count, delay and padding";
}
