// A process that records from the default capture device into the path on its command line
// until it is killed: lets a test end a recording the way a crash or Task Manager would.
#include <windows.h>

#include <thread>

#include "recording/capture.h"
#include "recording/live_state.h"

// Starts the capture worker as the UI thread would and waits to be terminated.
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    stopRequested.store(false);
    captureActive.store(true);
    std::thread(recordAudio, std::wstring(argv[1]), HWND{}).detach();
    Sleep(INFINITE);
    return 0;
}
