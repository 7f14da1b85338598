// Voxtrel's entry point.
#include <windows.h>

#include "app/startup.h"
#include "export/mp3_export.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    if (!startUp(instance, showCommand)) return 1;
    runMessageLoop();
    // An export cut off by the process's end would leave a broken MP3.
    waitForRunningExports();
    return 0;
}
