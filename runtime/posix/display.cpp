// The display on POSIX: the window and the box are in a module of their own (display_module.cpp,
// on GTK), loaded from the program's installed places alone, and only where the trust rules allow.
#include "display.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "os.hpp"
#include "posix.hpp"

#ifndef TRIO_MODULE_DIR
#define TRIO_MODULE_DIR "../lib/trio"  // from the installed programs' directory
#endif
#ifndef TRIO_MODULE_FULL_DIR
#define TRIO_MODULE_FULL_DIR "/usr/local/lib/trio"  // where it is installed
#endif
#ifndef TRIO_DISPLAY_MODULE  // 0 in a build without the window and the box (-DTRIO_DISPLAY=OFF)
#define TRIO_DISPLAY_MODULE 1
#endif

namespace rt::os {

namespace {

const char* named(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value ? value : nullptr;
}

// The module's entry, loaded from the first of its places where it may be; else null, with why.
// Code is loaded from absolute, installed places only, never from the data folder: beside the
// program (the build tree) or in the library directory beside it, where the system tells where the
// program is; and in the directory it was installed for. A place where someone else could have
// put the module is passed over.
const DisplayModule* load_module(Message& why) {
    std::string dir = program_directory();
    std::vector<std::string> places = {TRIO_MODULE_FULL_DIR};
    if (!dir.empty()) places.insert(places.begin(), {dir, dir + "/" + TRIO_MODULE_DIR});
    void* lib = nullptr;
    Message refused;
    for (const std::string& place : places) {
        char real[PATH_MAX];
        if (place[0] != '/' || !::realpath((place + "/" + display_module_file).c_str(), real)) continue;
        Message why_not = untrusted_link_on_the_way(place + "/" + display_module_file);
        if (why_not.empty()) why_not = place_distrusted(real);
        if (why_not.empty()) lib = ::dlopen(real, RTLD_NOW | RTLD_LOCAL);
        if (lib) break;
        if (!why_not.empty() && refused.empty()) refused = {Msg::ModuleNotUsed, {name(real), why_not}};
    }
    auto entry = lib ? reinterpret_cast<const DisplayModule* (*)()>(::dlsym(lib, display_module_entry)) : nullptr;
    if (entry) return entry();
    why = !lib && !refused.empty() ? refused : Message(Msg::ModuleNotLoaded, {display_module_file});
    return nullptr;
}

}  // namespace

bool display_wanted() { return named("WAYLAND_DISPLAY") || named("DISPLAY"); }

// A Wayland desktop's display, or an X server's: the one asked for, or both, by name.
const DisplayModule* open_display(Message& why, void (*lost)(int), void (*notice)(DisplayNotice, const char*)) {
    const char* wayland = named("WAYLAND_DISPLAY");
    const char* x = named("DISPLAY");
    if (!wayland && !x) {
        why = Msg::NoDisplayWanted;
        return nullptr;
    }
    if (!TRIO_DISPLAY_MODULE) {
        why = Msg::NoWindowLibraries;
        return nullptr;
    }
    const DisplayModule* module = load_module(why);
    if (!module) return nullptr;
    // From here on, what the libraries write to standard error never reaches the user.
    if (!keep_standard_error()) {
        why = Msg::NoNullDevice;
        return nullptr;
    }
    if (!module->connect(lost, notice)) {
        give_back_standard_error();
        why = wayland && x ? Message(Msg::DisplaysNotOpened, {name(wayland), name(x)})
                           : Message(Msg::DisplayNotOpened, {name(wayland ? wayland : x)});
        return nullptr;
    }
    return module;
}

}  // namespace rt::os
