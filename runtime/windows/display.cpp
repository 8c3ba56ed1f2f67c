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
    decltype(&::BeginPaint) BeginPaint = get<decltype(::BeginPaint)>("BeginPaint");
    decltype(&::EndPaint) EndPaint = get<decltype(::EndPaint)>("EndPaint");
    decltype(&::GetClientRect) GetClientRect = get<decltype(::GetClientRect)>("GetClientRect");
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

// gdi32, which draws the window's client area, loaded with user32 (which needs it).
struct Gdi32 {
    HMODULE dll = load_from_system(L"gdi32.dll");
    template <class F>
    F* get(const char* name) {
        return dll ? reinterpret_cast<F*>(reinterpret_cast<void*>(::GetProcAddress(dll, name))) : nullptr;
    }
    decltype(&::CreatePen) CreatePen = get<decltype(::CreatePen)>("CreatePen");
    decltype(&::CreateSolidBrush) CreateSolidBrush = get<decltype(::CreateSolidBrush)>("CreateSolidBrush");
    decltype(&::CreateFontW) CreateFontW = get<decltype(::CreateFontW)>("CreateFontW");
    decltype(&::SelectObject) SelectObject = get<decltype(::SelectObject)>("SelectObject");
    decltype(&::DeleteObject) DeleteObject = get<decltype(::DeleteObject)>("DeleteObject");
    decltype(&::MoveToEx) MoveToEx = get<decltype(::MoveToEx)>("MoveToEx");
    decltype(&::LineTo) LineTo = get<decltype(::LineTo)>("LineTo");
    decltype(&::Ellipse) Ellipse = get<decltype(::Ellipse)>("Ellipse");
    decltype(&::SetBkMode) SetBkMode = get<decltype(::SetBkMode)>("SetBkMode");
    decltype(&::SetTextColor) SetTextColor = get<decltype(::SetTextColor)>("SetTextColor");
    decltype(&::TextOutW) TextOutW = get<decltype(::TextOutW)>("TextOutW");
    decltype(&::GetTextExtentPoint32W) GetTextExtentPoint32W =
        get<decltype(::GetTextExtentPoint32W)>("GetTextExtentPoint32W");
    bool loaded() const {
        return CreatePen && CreateSolidBrush && CreateFontW && SelectObject && DeleteObject && MoveToEx && LineTo &&
               Ellipse && SetBkMode && SetTextColor && TextOutW && GetTextExtentPoint32W;
    }
};

const Gdi32& gdi32() {
    static const Gdi32 loaded;
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

// The form shown and its Paint, and what the window is drawn at: its DPI, for margins, dots and
// text of the same size in inches at any. One form is shown at a time, and its window procedure
// has no other way to them.
struct Shown {
    void (*paint)(void* form, const DrawingOps* ops) = nullptr;
    void* form = nullptr;
    int dpi = USER_DEFAULT_SCREEN_DPI;
} shown;

struct Drawing {
    HDC dc;
    DrawingScale scale;
    double pixel;         // one logical pixel (96 to the inch) in the window's
    double client_width;  // in the window's pixels
};

COLORREF colour(int rgb) { return RGB(rgb >> 16 & 255, rgb >> 8 & 255, rgb & 255); }

void draw_scale(void* w, double left, double top, double right, double bottom) {
    auto& d = *static_cast<Drawing*>(w);
    d.scale.left = left, d.scale.top = top, d.scale.right = right, d.scale.bottom = bottom;
}

void draw_line(void* w, double x1, double y1, double x2, double y2) {
    auto& d = *static_cast<Drawing*>(w);
    const Gdi32& g = gdi32();
    HPEN pen = g.CreatePen(PS_SOLID, static_cast<int>(DrawingStyle::line_width * d.pixel + 0.5),
                           colour(DrawingStyle::line_colour));
    HGDIOBJ before = g.SelectObject(d.dc, pen);
    g.MoveToEx(d.dc, static_cast<int>(d.scale.x(x1)), static_cast<int>(d.scale.y(y1)), nullptr);
    g.LineTo(d.dc, static_cast<int>(d.scale.x(x2)), static_cast<int>(d.scale.y(y2)));
    g.DeleteObject(g.SelectObject(d.dc, before));
}

void draw_dot(void* w, double x, double y, int apart) {
    auto& d = *static_cast<Drawing*>(w);
    const Gdi32& g = gdi32();
    int rgb = DrawingStyle::dot_colour(apart);
    HBRUSH brush = g.CreateSolidBrush(colour(rgb));
    HPEN pen = g.CreatePen(PS_SOLID, 1, colour(rgb));
    HGDIOBJ brush_before = g.SelectObject(d.dc, brush), pen_before = g.SelectObject(d.dc, pen);
    double r = DrawingStyle::dot_radius(apart) * d.pixel;
    double cx = d.scale.x(x), cy = d.scale.y(y);
    g.Ellipse(d.dc, static_cast<int>(cx - r), static_cast<int>(cy - r), static_cast<int>(cx + r + 1),
              static_cast<int>(cy + r + 1));
    g.DeleteObject(g.SelectObject(d.dc, brush_before));
    g.DeleteObject(g.SelectObject(d.dc, pen_before));
}

HFONT text_font(double height) {
    return gdi32().CreateFontW(-static_cast<int>(height + 0.5), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                               DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

// Text at x, y, made smaller where it would pass the window's right edge (large text, a long
// translation), so that all of it shows.
void show_text(Drawing& d, double x, double y, const char* text) {
    const Gdi32& g = gdi32();
    std::wstring shown = wide(text);
    double height = 12 * d.pixel;
    HGDIOBJ before = g.SelectObject(d.dc, text_font(height));
    SIZE size{};
    double room = d.client_width - x - DrawingStyle::text_room_right * d.pixel;
    if (g.GetTextExtentPoint32W(d.dc, shown.c_str(), static_cast<int>(shown.size()), &size) && size.cx > room &&
        room > 0)
        g.DeleteObject(g.SelectObject(d.dc, text_font(height * room / size.cx)));
    g.SetBkMode(d.dc, TRANSPARENT);
    g.SetTextColor(d.dc, colour(DrawingStyle::text_colour));
    g.TextOutW(d.dc, static_cast<int>(x), static_cast<int>(y), shown.c_str(), static_cast<int>(shown.size()));
    g.DeleteObject(g.SelectObject(d.dc, before));
}

void draw_label(void* w, double x, double y, const char* text) {
    auto& d = *static_cast<Drawing*>(w);
    show_text(d, d.scale.x(x) + DrawingStyle::label_right * d.pixel, d.scale.y(y) + DrawingStyle::label_down * d.pixel,
              text);
}

void draw_note(void* w, const char* text) {
    auto& d = *static_cast<Drawing*>(w);
    show_text(d, DrawingStyle::note_left * d.pixel, DrawingStyle::note_top * d.pixel, text);
}

// The client area drawn by the form's Paint, within a margin and below the note's line, at the
// window's DPI.
void paint(HWND window) {
    const User32& u = user32();
    PAINTSTRUCT ps{};
    HDC dc = u.BeginPaint(window, &ps);
    if (dc && shown.paint && gdi32().loaded()) {
        RECT client{};
        u.GetClientRect(window, &client);
        Drawing d{dc, {}, shown.dpi / 96.0, static_cast<double>(client.right)};
        d.scale.fill(client.right, client.bottom, d.pixel);
        DrawingOps ops{&d, draw_scale, draw_line, draw_dot, draw_label, draw_note};
        shown.paint(shown.form, &ops);
    }
    u.EndPaint(window, &ps);
}

LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_PAINT) {
        paint(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        user32().PostQuitMessage(0);
        return 0;
    }
    if (message == WM_DPICHANGED) {  // moved onto a monitor of another DPI: the same size in inches there
        shown.dpi = HIWORD(w);
        const RECT& r = *reinterpret_cast<const RECT*>(l);
        user32().SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                              SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return user32().DefWindowProcW(window, message, w, l);
}

// An ordinary window with no controls: resizable and movable, its client area at x, y of w by h
// twips, in pixels of the monitor it is on (the frame around it worked out for this style), drawn
// by the form's paint, whole whenever its size changes; closing it returns. A window without
// controls shows a screen reader nothing but its caption: the description is not given there.
int show_window(const char* caption, int x, int y, int w, int h, const char*,
                void (*paint)(void* form, const DrawingOps* ops), void* form) {
    shown.paint = paint;
    shown.form = form;
    const User32& u = user32();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW form_class{};
    form_class.lpfnWndProc = form_procedure;
    form_class.hInstance = instance;
    form_class.style = CS_HREDRAW | CS_VREDRAW;
    form_class.hCursor = u.LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form_class.lpszClassName = L"Form1";
    u.RegisterClassW(&form_class);
    int dpi = desktop_dpi();
    RECT frame = form_frame(x, y, w, h, dpi);
    HWND window =
        u.CreateWindowExW(0, L"Form1", wide(caption).c_str(), form_style, frame.left, frame.top,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    // Placed on a monitor whose DPI is not the desktop's: its twips in that monitor's pixels.
    int own = u.GetDpiForWindow ? static_cast<int>(u.GetDpiForWindow(window)) : dpi;
    shown.dpi = own > 0 ? own : dpi;
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
