// Drives a running Voxtrel through its windows, one action per invocation, as a user would:
// find the main window, press its buttons, fill its save dialog, read its status line and
// answer its message boxes. Exit code 0 means the action succeeded.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "dialog_driver.h"

namespace {

constexpr int ID_STATUS = 0;

// Returns the main window, waiting up to timeoutMs for it to appear (pollMs apart).
HWND findMainWindow(DWORD timeoutMs, DWORD pollMs = 50) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        HWND window = FindWindowW(L"VoxtrelApp", L"Voxtrel with FFT");
        if (window) return window;
        Sleep(pollMs);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

// Waits for the main window to become visible, posts it a close as a click on the close box
// would, and prints how many milliseconds passed until the window was hidden, which is the first
// thing its close does (how long the window took to answer), and the window's handle in hex.
// The program is started just before this runs.
int answerTime(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HWND main = findMainWindow(timeoutMs, 2);
    while (main && !IsWindowVisible(main) && GetTickCount64() < deadline) Sleep(2);
    if (!main || !IsWindowVisible(main)) return 1;
    LARGE_INTEGER frequency, shown, hidden;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&shown);
    if (!PostMessageW(main, WM_CLOSE, 0, 0)) return 1;
    while (IsWindowVisible(main) && GetTickCount64() < deadline) Sleep(1);
    if (IsWindowVisible(main)) return 1;
    QueryPerformanceCounter(&hidden);
    std::printf("%lld %llx\n", (hidden.QuadPart - shown.QuadPart) * 1000 / frequency.QuadPart,
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(main)));
    return 0;
}

std::wstring statusText(HWND main) {
    wchar_t text[1024] = {};
    GetWindowTextW(GetDlgItem(main, ID_STATUS), text, 1024);
    return text;
}

// Prints a wide string to stdout as UTF-8, one line.
void printLine(const std::wstring& text) {
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    std::printf("%s\n", utf8);
    std::fflush(stdout);
}

DWORD number(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 10)); }

// Waits for the status line to start with prefix.
int waitStatus(HWND main, const std::wstring& prefix, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        const std::wstring text = statusText(main);
        if (text.compare(0, prefix.size(), prefix) == 0) {
            printLine(text);
            return 0;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    printLine(statusText(main));
    return 1;
}

// Waits for a message box of any owner (a dialog with a message text), presses the button with
// the given identifier (IDYES is 6) and prints its text.
int answerBox(int button, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        HWND box = waitForDialog(nullptr, 100);
        if (box && GetDlgItem(box, 0xFFFF) && GetDlgItem(box, button)) {
            printLine(messageBoxText(box));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            return 0;
        }
    } while (GetTickCount64() < deadline);
    return 1;
}

// Opens a file (creating it) with no sharing, as a program that has it open would, and keeps it
// so for ms milliseconds.
int holdFile(const wchar_t* path, DWORD ms) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(ms);
    CloseHandle(file);
    return 0;
}

// Prints the version resource of a program: its product name, product version, file version
// numbers and copyright, one per line.
int printVersion(const wchar_t* program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program, &ignored);
    if (size == 0) return 1;
    std::vector<unsigned char> info(size);
    if (!GetFileVersionInfoW(program, 0, size, info.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return 1;
    for (const wchar_t* key : {L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return 1;
        printLine(value);
    }
    std::printf("%u.%u.%u.%u\n", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)), static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    wchar_t* copyright = nullptr;
    if (!VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\LegalCopyright",
                        reinterpret_cast<void**>(&copyright), &length))
        return 1;
    printLine(copyright);
    return 0;
}

// Waits for an unowned "Error" message box, prints its text and dismisses it.
int answerMessageBox(DWORD timeoutMs) {
    HWND box = waitForDialog(nullptr, timeoutMs, L"Error");
    if (!box) return 1;
    printLine(messageBoxText(box));
    dismissMessageBox(box);
    return 0;
}

// Returns a window's DPI awareness context as the number the system hands out.
// NOTE: Wine 8.0 hands out its own numbers (0x6010 for an unaware window of a process whose
// awareness came from its manifest), which GetAwarenessFromDpiAwarenessContext does not know;
// only whether two windows have the same one is compared.
unsigned long long awarenessOf(HWND window) {
    return static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetWindowDpiAwarenessContext(window)));
}

// Prints one line for the main window and one for each GL host and the surface inside it: its
// DPI awareness and, for a surface, whether the host is its parent.
int printEmbedding(HWND main) {
    std::printf("main %llx\n", awarenessOf(main));
    for (int hostId : {1101, 1102}) {
        HWND host = GetDlgItem(main, hostId);
        HWND surface = GetWindow(host, GW_CHILD);
        std::printf("host %d %llx\n", hostId, awarenessOf(host));
        if (!surface) {
            std::printf("surface %d missing\n", hostId);
            continue;
        }
        const bool embedded = GetParent(surface) == host && GetAncestor(surface, GA_PARENT) == host;
        std::printf("surface %d %llx %s\n", hostId, awarenessOf(surface), embedded ? "embedded" : "loose");
    }
    std::fflush(stdout);
    return 0;
}

// Opens the activation context of a program's application manifest (resource 1), as the system
// builds it when the program starts; INVALID_HANDLE_VALUE when there is none.
HANDLE openManifestContext(const wchar_t* program) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program;
    request.lpResourceName = MAKEINTRESOURCEW(1);
    return CreateActCtxW(&request);
}

// Prints what a program's application manifest (resource 1) sets, as the system reads it from an
// activation context: dpiAware, dpiAwareness and activeCodePage, one "name value" per line.
int printManifestSettings(const wchar_t* program) {
    HANDLE context = openManifestContext(program);
    if (context == INVALID_HANDLE_VALUE) return 1;
    const struct {
        const wchar_t* space;
        const wchar_t* name;
    } settings[] = {
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"},
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"},
        {L"http://schemas.microsoft.com/SMI/2019/WindowsSettings", L"activeCodePage"},
    };
    for (const auto& setting : settings) {
        wchar_t value[256] = {};
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context, setting.space, setting.name, value, 256, &written)) value[0] = L'-';
        printLine(std::wstring(setting.name) + L" " + value);
    }
    ReleaseActCtx(context);
    return 0;
}

// Prints the id of the control that has the keyboard focus in the main window's thread, or -1.
int printFocus(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return 1;
    std::printf("%d\n", info.hwndFocus && IsChild(main, info.hwndFocus) ? GetDlgCtrlID(info.hwndFocus) : -1);
    std::fflush(stdout);
    return 0;
}

// Returns the text of the main window's control with id.
std::wstring controlText(HWND main, int id) {
    wchar_t text[2048] = {};
    GetWindowTextW(GetDlgItem(main, id), text, 2048);
    return text;
}

// Prints, taken at one moment, the size of a file (-1 when it cannot be read) and the text of
// control id, apart by a tab.
int printReadout(HWND main, int id, const wchar_t* file) {
    const std::wstring text = controlText(main, id);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const long long size = GetFileAttributesExW(file, GetFileExInfoStandard, &data)
                               ? (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                               : -1;
    std::printf("%lld\t", size);
    printLine(text);
    return 0;
}

// Prints the export bar's position and whether it is shown, then the export line, apart by tabs.
int printExportProgress(HWND main) {
    HWND bar = GetDlgItem(main, 5);
    if (!bar) return 1;
    // The text first: the program shows the bar before the text that tells of it.
    const std::wstring text = controlText(main, 6);
    std::printf("%d\t%d\t", static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)), IsWindowVisible(bar) ? 1 : 0);
    printLine(text);
    return 0;
}

// Prints one line per control of the main window: its id, then its width and height against
// those of its text in the system's message font, measured here with a font made from the same
// metrics (the control's own font cannot be asked for from another process under Wine).
int printTextFits(HWND main) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 1;
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, font);
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[512] = {};
        const int length = GetWindowTextW(child, text, 512);
        SIZE extent{};
        if (length > 0) GetTextExtentPoint32W(screen, text, length, &extent);
        RECT r{};
        GetWindowRect(child, &r);
        std::printf("%d %ld %ld %ld %ld\n", GetDlgCtrlID(child), r.right - r.left, extent.cx, r.bottom - r.top,
                    extent.cy);
    }
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    DeleteObject(font);
    std::fflush(stdout);
    return 0;
}

// Prints the pixel sizes of the images in a program's first icon group (resource 1).
int printIconGroup(const wchar_t* program) {
    HMODULE module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 1;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    const BYTE* group = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    if (!group) return 1;
    // The group: reserved, type and count (16 bits each), then 14-byte entries led by width, height.
    const int count = group[4] | group[5] << 8;
    std::printf("group");
    for (int i = 0; i < count; ++i) std::printf(" %d", group[6 + 14 * i] ? group[6 + 14 * i] : 256);
    std::printf("\n");
    std::fflush(stdout);
    FreeLibrary(module);
    return 0;
}

// Prints the assemblies a program's manifest (resource 1) brings in, as the system resolves them
// into an activation context: one encoded identity per line, the program's own first.
int printManifestAssemblies(const wchar_t* program) {
    HANDLE context = openManifestContext(program);
    if (context == INVALID_HANDLE_VALUE) return 1;
    // The record is followed by the strings it points to, hence the room.
    std::vector<BYTE> details(8192);
    SIZE_T needed = 0;
    if (!QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, details.data(), details.size(),
                      &needed)) {
        ReleaseActCtx(context);
        return 1;
    }
    const DWORD assemblies = reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(details.data())->ulAssemblyCount;
    for (DWORD index = 1; index <= assemblies; ++index) {
        std::vector<BYTE> buffer(8192);
        if (!QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                          buffer.size(), &needed))
            continue;
        const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
        printLine(assembly->lpAssemblyEncodedAssemblyIdentity ? assembly->lpAssemblyEncodedAssemblyIdentity : L"?");
    }
    ReleaseActCtx(context);
    return 0;
}

int run(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring action = argv[1];
    if (action == L"answer-time") return answerTime(argc > 2 ? number(argv[2]) : 30000);
    if (action == L"version" && argc > 2) return printVersion(argv[2]);
    if (action == L"manifest" && argc > 2) return printManifestSettings(argv[2]);
    if (action == L"manifest-assemblies" && argc > 2) return printManifestAssemblies(argv[2]);
    if (action == L"icon-group" && argc > 2) return printIconGroup(argv[2]);
    if (action == L"answer-box" && argc > 2)
        return answerBox(static_cast<int>(number(argv[2])), argc > 3 ? number(argv[3]) : 10000);
    if (action == L"hold-file" && argc > 3) return holdFile(argv[2], number(argv[3]));
    HWND main = findMainWindow(action == L"wait-window" && argc > 2 ? number(argv[2]) : 5000);
    if (action == L"wait-window") return main ? 0 : 1;
    if (action == L"message-box") return answerMessageBox(argc > 2 ? number(argv[2]) : 10000);
    if (!main) return 3;
    if (action == L"click" && argc > 2) {
        return PostMessageW(GetDlgItem(main, static_cast<int>(number(argv[2]))), BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (action == L"save-dialog" && argc > 2) {
        HWND dialog = waitForDialog(main, argc > 3 ? number(argv[3]) : 30000);
        return dialog && submitSaveDialog(dialog, argv[2]) ? 0 : 1;
    }
    if (action == L"dialog-folder" && argc > 2) {
        HWND dialog = waitForDialog(main, argc > 3 ? number(argv[3]) : 30000);
        return dialog && openFolderInSaveDialog(dialog, argv[2]) ? 0 : 1;
    }
    if (action == L"cancel-dialog") {
        HWND dialog = waitForDialog(main, argc > 2 ? number(argv[2]) : 30000);
        if (!dialog) return 1;
        cancelDialog(dialog);
        return 0;
    }
    if (action == L"wait-dialog") return waitForDialog(main, argc > 2 ? number(argv[2]) : 10000) ? 0 : 1;
    if (action == L"wait-no-dialog") {
        // Until no dialog of the main window is on screen any more.
        const ULONGLONG deadline = GetTickCount64() + (argc > 2 ? number(argv[2]) : 10000);
        while (waitForDialog(main, 0)) {
            if (GetTickCount64() >= deadline) return 1;
        }
        return 0;
    }
    if (action == L"expect-no-dialog") return waitForDialog(main, argc > 2 ? number(argv[2]) : 1000) ? 1 : 0;
    if (action == L"status") {
        printLine(statusText(main));
        return 0;
    }
    if (action == L"wait-status" && argc > 2) return waitStatus(main, argv[2], argc > 3 ? number(argv[3]) : 10000);
    if (action == L"embedding") return printEmbedding(main);
    if (action == L"readout" && argc > 3) return printReadout(main, static_cast<int>(number(argv[2])), argv[3]);
    if (action == L"export-progress") return printExportProgress(main);
    if (action == L"text-fits") return printTextFits(main);
    if (action == L"focus") return printFocus(main);
    if (action == L"close") return PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    if (action == L"rect" && argc > 2) {
        // The screen rectangle of a control, as an ImageMagick geometry: WIDTHxHEIGHT+X+Y.
        RECT r{};
        if (!GetWindowRect(GetDlgItem(main, static_cast<int>(number(argv[2]))), &r)) return 1;
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return run(argc, argv); }
