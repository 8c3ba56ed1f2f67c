// Starts a program as Explorer starts one on a double-click: detached, with no console and no
// standard handles, in the current folder; for the window tests under Wine, which otherwise
// always hands a program its standard handles. First it says on standard output what the
// program's manifest means to the system, as lines "manifest: <what>: <value>"; while the
// program runs, each window it shows as "<title>: <text>" (a box's text); then it ends with the
// program's exit status.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
// windows.h first, as the others need it
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <set>
#include <string>

namespace {

DWORD child = 0;
std::set<HWND> seen;

void say(const std::wstring& text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    DWORD done = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
}

BOOL CALLBACK report_window(HWND window, LPARAM) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != child || !::IsWindowVisible(window) || !seen.insert(window).second) return TRUE;
    wchar_t title[256] = L"", text[1024] = L"";
    ::GetWindowTextW(window, title, 256);
    ::GetDlgItemTextW(window, 0xFFFF, text, 1024);  // a message box's text
    say(std::wstring(title) + L": " + text + L"\n");
    return TRUE;
}

// The manifest in the program's resources, read by the system's own parser: the run level, the
// systems it is declared for, its DPI settings and the assemblies it depends on.
void report_manifest(const std::wstring& program) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = ::CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) return say(L"manifest: none\n");
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    if (::QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, nullptr))
        say(std::wstring(L"manifest: run level: ") +
            (level.RunLevel == ACTCTX_RUN_LEVEL_AS_INVOKER ? L"asInvoker" : L"other") + L"\n");
    alignas(8) char buffer[4096];
    // As Windows 10 lays it out (MinGW-w64's headers predate MaxVersionTested).
    struct Compatibility {
        DWORD ElementCount;
        struct {
            GUID Id;
            ACTCTX_COMPATIBILITY_ELEMENT_TYPE Type;
            ULONGLONG MaxVersionTested;
        } Elements[8];
    };
    auto* compatibility = reinterpret_cast<Compatibility*>(buffer);
    if (::QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, buffer, sizeof buffer,
                       nullptr)) {
        for (DWORD i = 0; i < compatibility->ElementCount && i < 8; ++i) {
            wchar_t id[64] = L"";
            ::StringFromGUID2(compatibility->Elements[i].Id, id, 64);
            if (compatibility->Elements[i].Type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS)
                say(std::wstring(L"manifest: supported OS: ") + id + L"\n");
        }
    }
    // TRIO_SXS_SETTINGS: the settings' namespaces, less their year and name (from the build).
    struct Setting {
        const wchar_t *space, *name;
    } settings[] = {{L"" TRIO_SXS_SETTINGS "/2005/WindowsSettings", L"dpiAware"},
                    {L"" TRIO_SXS_SETTINGS "/2016/WindowsSettings", L"dpiAwareness"},
                    {L"" TRIO_SXS_SETTINGS "/2016/WindowsSettings", L"longPathAware"}};
    for (const Setting& setting : settings) {
        wchar_t value[256] = L"";
        SIZE_T written = 0;
        if (::QueryActCtxSettingsW(0, context, setting.space, setting.name, value, 256, &written))
            say(std::wstring(L"manifest: ") + setting.name + L": " + value + L"\n");
    }
    auto* details = reinterpret_cast<ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(buffer);
    DWORD assemblies =
        ::QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, buffer, sizeof buffer, nullptr)
            ? details->ulAssemblyCount
            : 0;
    for (DWORD index = 2; index <= assemblies; ++index) {  // the first is the program itself
        auto* assembly = reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer);
        if (::QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer, sizeof buffer,
                           nullptr) &&
            assembly->lpAssemblyEncodedAssemblyIdentity)
            say(std::wstring(L"manifest: depends on: ") + assembly->lpAssemblyEncodedAssemblyIdentity + L"\n");
    }
    ::ReleaseActCtx(context);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    int n = ::MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, nullptr, 0);
    std::wstring program(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, program.data(), n);
    report_manifest(program);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                          &startup, &process))
        return 3;
    child = process.dwProcessId;
    while (::WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) ::EnumWindows(report_window, 0);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
