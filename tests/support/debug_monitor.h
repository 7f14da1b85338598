// Reads this process's debugger output through the system's own channel: the DBWIN shared
// buffer and events that debug-output viewers use. Lines written by OutputDebugStringA while a
// monitor is open are collected in order.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugMonitor {
public:
    DebugMonitor();
    ~DebugMonitor();
    DebugMonitor(const DebugMonitor&) = delete;
    DebugMonitor& operator=(const DebugMonitor&) = delete;

    bool ready() const { return ready_; }
    // Returns every line received from this process so far.
    std::vector<std::string> lines();
    // Returns the received lines that start with prefix.
    std::vector<std::string> linesStartingWith(const std::string& prefix);

private:
    void run();

    HANDLE mutex_ = nullptr;
    HANDLE mapping_ = nullptr;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    void* view_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    std::mutex linesMutex_;
    std::vector<std::string> lines_;
    std::thread reader_;
};
