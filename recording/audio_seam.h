// The one seam of the capture worker: how it obtains the audio device enumerator. By default the
// system's own enumerator is created; tests hand in their own so each capture call can fail.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

// Creates a device enumerator; follows COM rules (null on failure, caller releases on success).
using CreateDeviceEnumerator = HRESULT (*)(IMMDeviceEnumerator** enumerator);

// Creates the system's device enumerator with CoCreateInstance in every context.
HRESULT createSystemDeviceEnumerator(IMMDeviceEnumerator** enumerator);

// The enumerator factory recordAudio uses; createSystemDeviceEnumerator unless a test replaced it.
extern CreateDeviceEnumerator createDeviceEnumerator;
