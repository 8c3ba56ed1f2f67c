// The session's buses, checked before the toolkit meets them: the session bus, and the
// accessibility bus that screen readers listen on, which the toolkit's bridge to them would wait
// on for ever, or start, where it cannot be reached. Each answer is awaited a moment at most; a
// bus that does not answer is done without, and none is started for the run.
#include "display_buses.hpp"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace display {

namespace {

// How long a bus may take to answer one question.
constexpr guint answer_ms = 1500;

const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// A connection to the bus at address, made within answer_ms (its handshake, and the bus's welcome
// where it is a message bus); null where the bus does not answer in time, or refuses.
GDBusConnection* connect_within(const std::string& address) {
    struct Attempt {
        GDBusConnection* connection = nullptr;
        bool done = false;
    } attempt;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GCancellable* cancellable = g_cancellable_new();
    g_dbus_connection_new_for_address(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* a = static_cast<Attempt*>(data);
            a->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
            a->done = true;
        },
        &attempt);
    gint64 until = g_get_monotonic_time() + answer_ms * 1000;
    while (!attempt.done) {
        if (g_get_monotonic_time() >= until) g_cancellable_cancel(cancellable);  // then done, cancelled
        GSource* tick = g_timeout_source_new(50);
        g_source_set_callback(
            tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_object_unref(cancellable);
    return attempt.connection;
}

// The session bus: the one the environment names, or the user's own at its usual place; none where
// neither is (as under su, cron or ssh -X), nor where it would have to be started (autolaunch:,
// which also takes the address from whoever holds an X selection): the toolkit would start one,
// which outlives the run.
std::string session_address() {
    if (const char* named = variable("DBUS_SESSION_BUS_ADDRESS"))
        return std::string(named).find("autolaunch:") == std::string::npos ? named : "";
    const char* runtime = variable("XDG_RUNTIME_DIR");
    struct stat st {};
    std::string usual = runtime ? std::string(runtime) + "/bus" : "";
    if (!usual.empty() && ::stat(usual.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + usual;
    return "";
}

// What the session bus says of the accessibility bus: its address, and whether a screen reader
// listens (the accessibility service's IsEnabled).
void ask_session(GDBusConnection* session, std::string& address, bool& listened) {
    GVariant* reply =
        g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
                                    G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, answer_ms, nullptr, nullptr);
    if (reply) {
        const gchar* text = nullptr;
        g_variant_get(reply, "(&s)", &text);
        address = text ? text : "";
        g_variant_unref(reply);
    }
    reply = g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                                        "Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"),
                                        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, answer_ms, nullptr, nullptr);
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        listened = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        if (value) g_variant_unref(value);
        g_variant_unref(reply);
    }
}

// The entries of a bus address (a list, ";" between them) that name a socket of this machine's: a
// path (unix:path=, unix:abstract=, unix:dir=, unix:tmpdir=), never a program to run (unixexec:)
// nor one to start a bus (autolaunch:) nor another machine (tcp:, nonce-tcp:), which a bus's answer
// or a server could name.
std::vector<std::string> local_sockets(const std::string& address) {
    std::vector<std::string> entries;
    for (std::size_t at = 0; at <= address.size();) {
        std::size_t end = std::min(address.find(';', at), address.size());
        std::string entry = address.substr(at, end - at);
        if (entry.rfind("unix:", 0) == 0) entries.push_back(entry);
        at = end + 1;
    }
    return entries;
}

}  // namespace

// The accessibility bus is taken from the user's own settings alone: the one AT_SPI_BUS_ADDRESS
// names, or the one the user's session bus gives; never from the display (its root window's
// AT_SPI_BUS, which any client of the server may set). Only an entry of it that is a socket here
// and answers is handed on to the toolkit's bridge.
bool check_buses(const char*& silent) {
    static std::string asked;  // the accessibility bus asked for, for the line that says it is silent
    if (variable("NO_AT_BRIDGE")) return true;
    std::string address;
    bool listened = false;
    if (const char* named = variable("AT_SPI_BUS_ADDRESS")) {
        address = named;
        listened = true;
    } else if (std::string session = session_address(); !session.empty()) {
        if (GDBusConnection* bus = connect_within(session)) {
            ask_session(bus, address, listened);
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
    }
    for (const std::string& entry : local_sockets(address)) {
        if (GDBusConnection* bus = connect_within(entry)) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
            ::setenv("AT_SPI_BUS_ADDRESS", entry.c_str(), 1);  // the bridge takes the one that answered
            return true;
        }
    }
    ::setenv("NO_AT_BRIDGE", "1", 1);  // the toolkit's bridge to screen readers is not loaded
    if (!listened || address.empty()) return true;
    asked = address;
    silent = asked.c_str();
    return false;
}

namespace {

// Whether the accessibility registry lists an application of this process among its children.
bool listed(GDBusConnection* bus) {
    GVariant* children = g_dbus_connection_call_sync(
        bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", "org.a11y.atspi.Accessible", "GetChildren",
        nullptr, G_VARIANT_TYPE("(a(so))"), G_DBUS_CALL_FLAGS_NONE, answer_ms, nullptr, nullptr);
    if (!children) return false;
    bool found = false;
    GVariantIter* iter = nullptr;
    const gchar *name = nullptr, *path = nullptr;
    g_variant_get(children, "(a(so))", &iter);
    while (!found && g_variant_iter_next(iter, "(&s&o)", &name, &path)) {
        GVariant* pid = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID",
            g_variant_new("(s)", name), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, answer_ms, nullptr, nullptr);
        if (!pid) continue;
        guint32 id = 0;
        g_variant_get(pid, "(u)", &id);
        found = id == static_cast<guint32>(::getpid());
        g_variant_unref(pid);
    }
    g_variant_iter_free(iter);
    g_variant_unref(children);
    return found;
}

}  // namespace

// The toolkit's own work goes on meanwhile (its bridge registers the program through the main
// loop), and once listed, a moment more, for a screen reader to take in the program before its
// window comes.
void wait_until_heard() {
    const char* address = variable("AT_SPI_BUS_ADDRESS");
    if (!address || variable("NO_AT_BRIDGE")) return;
    static GDBusConnection* bus = connect_within(address);
    if (!bus) return;
    gint64 until = g_get_monotonic_time() + 2 * answer_ms * 1000, settled = 0;
    for (gint64 now = g_get_monotonic_time(); now < until && (!settled || now < settled);
         now = g_get_monotonic_time()) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (!settled && listed(bus)) settled = now + 150 * 1000;
        g_usleep(10 * 1000);
    }
}

}  // namespace display
