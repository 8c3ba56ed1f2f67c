// The display on Windows: the window and the message box with the Win32 API itself, user32
// loaded from the system's folder when something is first to be shown.
#include "display.hpp"

#include <string>

#include "windows.hpp"

namespace rt::os {

namespace {

// A library from the system directory only: by the loader's own search where it has one, else by
// the directory's absolute path (a Windows 7 without its loader update).
HMODULE load_from_system(const wchar_t* file) {
    if (HMODULE dll = ::LoadLibraryExW(file, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return dll;
    wchar_t dir[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return ::LoadLibraryExW((std::wstring(dir, n) + L"\\" + file).c_str(), nullptr, 0);
}

// user32, loaded when something is to be shown: a program that shows nothing (photo, any run that
// fails early) does not pay for the window system's start-up, which under Wine is most of a run.
struct User32 {
    HMODULE dll = load_from_system(L"user32.dll");
    int missing = 0;
    template <class F>
    F* get(const char* name, bool needed = true) {
        F* f = dll ? reinterpret_cast<F*>(reinterpret_cast<void*>(::GetProcAddress(dll, name))) : nullptr;
        missing += needed && f == nullptr;
        return f;
    }
    decltype(&::MessageBoxW) MessageBoxW = get<decltype(::MessageBoxW)>("MessageBoxW");
    decltype(&::RegisterClassW) RegisterClassW = get<decltype(::RegisterClassW)>("RegisterClassW");
    decltype(&::AdjustWindowRectEx) AdjustWindowRectEx = get<decltype(::AdjustWindowRectEx)>("AdjustWindowRectEx");
    decltype(&::CreateWindowExW) CreateWindowExW = get<decltype(::CreateWindowExW)>("CreateWindowExW");
    decltype(&::ShowWindow) ShowWindow = get<decltype(::ShowWindow)>("ShowWindow");
    decltype(&::UpdateWindow) UpdateWindow = get<decltype(::UpdateWindow)>("UpdateWindow");
    decltype(&::GetMessageW) GetMessageW = get<decltype(::GetMessageW)>("GetMessageW");
    decltype(&::TranslateMessage) TranslateMessage = get<decltype(::TranslateMessage)>("TranslateMessage");
    decltype(&::DispatchMessageW) DispatchMessageW = get<decltype(::DispatchMessageW)>("DispatchMessageW");
    decltype(&::DefWindowProcW) DefWindowProcW = get<decltype(::DefWindowProcW)>("DefWindowProcW");
    decltype(&::PostQuitMessage) PostQuitMessage = get<decltype(::PostQuitMessage)>("PostQuitMessage");
    decltype(&::LoadCursorW) LoadCursorW = get<decltype(::LoadCursorW)>("LoadCursorW");
    decltype(&::SetWindowPos) SetWindowPos = get<decltype(::SetWindowPos)>("SetWindowPos");
    decltype(&::GetDC) GetDC = get<decltype(::GetDC)>("GetDC");
    decltype(&::ReleaseDC) ReleaseDC = get<decltype(::ReleaseDC)>("ReleaseDC");
    // Windows 10 (1607) on: each window's own DPI. Before, one DPI for the whole desktop.
    using DpiForWindow = UINT WINAPI(HWND);
    using AdjustForDpi = BOOL WINAPI(LPRECT, DWORD, BOOL, DWORD, UINT);
    DpiForWindow* GetDpiForWindow = get<DpiForWindow>("GetDpiForWindow", false);
    AdjustForDpi* AdjustWindowRectExForDpi = get<AdjustForDpi>("AdjustWindowRectExForDpi", false);
    bool loaded() const { return missing == 0; }
};

const User32& user32() {
    static const User32 loaded;
    return loaded;
}

// A desktop is always there to show things on, given the window system.
int connect(void (*)(int), void (*)(DisplayNotice, const char*)) { return user32().loaded() ? 1 : 0; }

// One OK button, titled with the program's name; returns once dismissed (OK, Enter, Escape, close).
// A run-time error's report carries the error icon. Nothing can take the desktop away.
int message_box(const char* title, const char* prompt, BoxLook look, int) {
    UINT style = MB_OK | MB_SETFOREGROUND | (look == BoxLook::error ? MB_ICONERROR : 0);
    return user32().MessageBoxW(nullptr, wide(prompt).c_str(), wide(title).c_str(), style) >
           0;  // IDOK; 0 or less: not shown
}

// The desktop's dots per inch, as a program that is not aware of each monitor's sees them:
// gdi32 is in the process with user32, which needs it.
int desktop_dpi() {
    const User32& u = user32();
    using DeviceCaps = int WINAPI(HDC, int);
    HMODULE gdi32 = ::GetModuleHandleW(L"gdi32.dll");
    auto caps = gdi32 ? reinterpret_cast<DeviceCaps*>(reinterpret_cast<void*>(::GetProcAddress(gdi32, "GetDeviceCaps")))
                      : nullptr;
    HDC screen = u.GetDC(nullptr);
    int dpi = caps && screen ? caps(screen, LOGPIXELSY) : 0;
    if (screen) u.ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

constexpr DWORD form_style = WS_OVERLAPPEDWINDOW;

// The window's outer rectangle for a client area at x, y of w by h twips, at dpi dots per inch.
RECT form_frame(int x, int y, int w, int h, int dpi) {
    const User32& u = user32();
    int left = twips_to_pixels(x, dpi), top = twips_to_pixels(y, dpi);
    RECT frame{left, top, left + twips_to_pixels(w, dpi), top + twips_to_pixels(h, dpi)};
    if (u.AdjustWindowRectExForDpi) {
        u.AdjustWindowRectExForDpi(&frame, form_style, FALSE, 0, static_cast<UINT>(dpi));
    } else {
        u.AdjustWindowRectEx(&frame, form_style, FALSE, 0);
    }
    return frame;
}

LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        user32().PostQuitMessage(0);
        return 0;
    }
    if (message == WM_DPICHANGED) {  // moved onto a monitor of another DPI: the same size in inches there
        const RECT& r = *reinterpret_cast<const RECT*>(l);
        user32().SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                              SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return user32().DefWindowProcW(window, message, w, l);
}

// An ordinary window with no controls: resizable and movable, its client area at x, y of w by h
// twips, in pixels of the monitor it is on (the frame around it worked out for this style);
// closing it returns.
int show_window(const char* caption, int x, int y, int w, int h) {
    const User32& u = user32();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW form{};
    form.lpfnWndProc = form_procedure;
    form.hInstance = instance;
    form.hCursor = u.LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = L"Form1";
    u.RegisterClassW(&form);
    int dpi = desktop_dpi();
    RECT frame = form_frame(x, y, w, h, dpi);
    HWND window =
        u.CreateWindowExW(0, L"Form1", wide(caption).c_str(), form_style, frame.left, frame.top,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    // Placed on a monitor whose DPI is not the desktop's: its twips in that monitor's pixels.
    int own = u.GetDpiForWindow ? static_cast<int>(u.GetDpiForWindow(window)) : dpi;
    if (own > 0 && own != dpi) {
        frame = form_frame(x, y, w, h, own);
        u.SetWindowPos(window, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    u.ShowWindow(window, SW_SHOWNORMAL);
    u.UpdateWindow(window);
    MSG message;
    while (u.GetMessageW(&message, nullptr, 0, 0) > 0) {
        u.TranslateMessage(&message);
        u.DispatchMessageW(&message);
    }
    return 1;
}

const DisplayModule module{connect, message_box, show_window};

}  // namespace

bool display_wanted() { return true; }

// Nothing takes the desktop away while the box or the window waits; the window system may yet be
// missing (a Windows without user32, as some server installations are).
const DisplayModule* open_display(Message& why, void (*lost)(int), void (*notice)(DisplayNotice, const char*)) {
    if (module.connect(lost, notice)) return &module;
    why = {Msg::NoWindowSystem, {"user32.dll"}};
    return nullptr;
}

}  // namespace rt::os
