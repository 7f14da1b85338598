#include "debug_monitor.h"

namespace {
constexpr DWORD DBWIN_SIZE = 4096;
// A writer waits for the buffer before it writes, so once this marker has been handed over,
// every earlier line has been collected.
constexpr char SYNC_MARKER[] = "\001debug-monitor-sync";
struct DbwinBuffer {
    DWORD processId;
    char text[DBWIN_SIZE - sizeof(DWORD)];
};
}  // namespace

DebugMonitor::DebugMonitor() {
    mutex_ = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DBWIN_SIZE, L"DBWIN_BUFFER");
    if (mapping_) view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, DBWIN_SIZE);
    ready_ = mutex_ && bufferReady_ && dataReady_ && view_;
    if (ready_) reader_ = std::thread([this] { run(); });
}

DebugMonitor::~DebugMonitor() {
    if (reader_.joinable()) {
        stopping_.store(true);
        SetEvent(dataReady_);
        reader_.join();
    }
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    if (dataReady_) CloseHandle(dataReady_);
    if (bufferReady_) CloseHandle(bufferReady_);
    if (mutex_) CloseHandle(mutex_);
}

void DebugMonitor::run() {
    const DWORD self = GetCurrentProcessId();
    const auto* buffer = static_cast<const DbwinBuffer*>(view_);
    SetEvent(bufferReady_);
    while (WaitForSingleObject(dataReady_, INFINITE) == WAIT_OBJECT_0 && !stopping_.load()) {
        if (buffer->processId == self) {
            std::string text(buffer->text, strnlen(buffer->text, sizeof buffer->text));
            std::lock_guard<std::mutex> guard(linesMutex_);
            lines_.push_back(std::move(text));
        }
        SetEvent(bufferReady_);
    }
}

std::vector<std::string> DebugMonitor::lines() {
    OutputDebugStringA(SYNC_MARKER);
    std::vector<std::string> received;
    std::lock_guard<std::mutex> guard(linesMutex_);
    for (const std::string& line : lines_) {
        if (line != SYNC_MARKER) received.push_back(line);
    }
    return received;
}

std::vector<std::string> DebugMonitor::linesStartingWith(const std::string& prefix) {
    std::vector<std::string> matching;
    for (const std::string& line : lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) matching.push_back(line);
    }
    return matching;
}
