#include "PrivateKeyring.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "keyring/SecretServiceKeyring.h"

namespace qm::test {
namespace {

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Starts args (found on PATH) with stdin from inFd (or /dev/null), stdout to outFd (or
// /dev/null) and stderr to /dev/null; the caller closes its ends.
pid_t Spawn(const std::vector<std::string>& args, int inFd, int outFd) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the test, however it ends
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(inFd >= 0 ? inFd : devNull, 0);
        ::dup2(outFd >= 0 ? outFd : devNull, 1);
        ::dup2(devNull, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

}  // namespace

bool PrivateKeyring::Installed(std::string& missing) {
    for (const char* program : {"dbus-daemon", "gnome-keyring-daemon"}) {
        if (!OnPath(program)) {
            missing = std::string(program) + " is not installed";
            return false;
        }
    }
    return true;
}

PrivateKeyring* PrivateKeyring::Shared(std::string& problem) {
    static std::unique_ptr<PrivateKeyring> shared(new PrivateKeyring);
    problem = shared->problem_;
    return problem.empty() ? shared.get() : nullptr;
}

PrivateKeyring::PrivateKeyring() {
    for (const char* sub : {"home", "data", "config", "runtime"}) {
        ::mkdir((dir_ / sub).c_str(), 0700);
    }
    ::setenv("HOME", Home().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    ::unsetenv("DISPLAY");
    if (StartBus() && StartKeyring()) WaitForService();
}

PrivateKeyring::~PrivateKeyring() {
    Stop(keyring_);
    Stop(bus_);
}

// A session bus that starts no services of its own: only what the test starts is on it.
bool PrivateKeyring::StartBus() {
    const std::string config = dir_ / "bus.conf";
    TempDir::WriteFile(
        config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
        "1.0//EN\"\n \"http://www.freedesktop.org/standards/dbus/1.0/"
        "busconfig.dtd\">\n<busconfig>\n  <type>session</type>\n  <listen>unix:dir=" +
            dir_.path() +
            "/runtime</listen>\n  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n    <allow send_destination=\"*\" "
            "eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        problem_ = "no pipe for dbus-daemon";
        return false;
    }
    bus_ = Spawn({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"}, -1,
                 out[1]);
    ::close(out[1]);
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    if (line.empty()) {
        problem_ = "dbus-daemon printed no address";
        return false;
    }
    address_ = line;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    return true;
}

// Fed the password on stdin, the daemon creates the login keyring (the default collection) with
// it, or unlocks it.
bool PrivateKeyring::StartKeyring() {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        problem_ = "no pipe for gnome-keyring-daemon";
        return false;
    }
    keyring_ = Spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                     in[0], -1);
    ::close(in[0]);
    const std::string password = kUnlockPassword;
    const bool written =
        ::write(in[1], password.data(), password.size()) == static_cast<ssize_t>(password.size());
    ::close(in[1]);
    if (!written) problem_ = "gnome-keyring-daemon took no password";
    return written;
}

// Until the service answers and has its default collection, for at most ten seconds.
bool PrivateKeyring::WaitForService() {
    SecretServiceKeyring keyring(std::chrono::seconds(1));
    for (int i = 0; i < 100; ++i) {
        if (keyring.Lookup("probe.invalid", "probe").outcome == KeyringAnswer::Outcome::NotFound)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    problem_ = "the keyring did not come up: " + keyring.Offered().reason;
    return false;
}

namespace {

// A connection of the test's own, so the product's calls keep theirs to themselves.
GDBusConnection* Connect(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

void Close(GDBusConnection* bus) {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
}

// A method of the service at its root object; null when it failed.
GVariant* CallService(GDBusConnection* bus, const char* interface, const char* method,
                      GVariant* parameters, const char* replyType) {
    return g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                       interface, method, parameters, G_VARIANT_TYPE(replyType),
                                       G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

// The object path the first field of reply holds.
std::string PathOf(GVariant* reply) {
    const gchar* path = nullptr;
    g_variant_get_child(reply, 0, "&o", &path);
    std::string text = path ? path : "";
    g_variant_unref(reply);
    return text;
}

const char kService[] = "org.freedesktop.Secret.Service";

}  // namespace

bool PrivateKeyring::Lock() {
    GDBusConnection* bus = Connect(address_);
    if (!bus) return false;
    bool locked = false;
    if (GVariant* alias =
            CallService(bus, kService, "ReadAlias", g_variant_new("(s)", "default"), "(o)")) {
        const std::string path = PathOf(alias);
        const gchar* paths[] = {path.c_str(), nullptr};
        if (GVariant* done =
                CallService(bus, kService, "Lock", g_variant_new("(^ao)", paths), "(aoo)")) {
            GVariant* objects = g_variant_get_child_value(done, 0);
            locked = g_variant_n_children(objects) == 1;
            g_variant_unref(objects);
            g_variant_unref(done);
        }
    }
    Close(bus);
    return locked;
}

// Through GNOME Keyring's own interface for unlocking with the password in hand, over a plain
// session (the password stays on this machine's private bus).
bool PrivateKeyring::Unlock() {
    GDBusConnection* bus = Connect(address_);
    if (!bus) return false;
    bool unlocked = false;
    GVariant* alias =
        CallService(bus, kService, "ReadAlias", g_variant_new("(s)", "default"), "(o)");
    GVariant* session =
        CallService(bus, kService, "OpenSession",
                    g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)");
    if (alias && session) {
        const std::string collection = PathOf(alias);
        gchar* sessionPath = nullptr;
        g_variant_get_child(session, 1, "o", &sessionPath);
        const std::string password = kUnlockPassword;
        GVariant* secret = g_variant_new(
            "(o@ay@ays)", sessionPath,
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, nullptr, 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.data(), password.size(), 1),
            "text/plain");
        GVariant* done =
            CallService(bus, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                        "UnlockWithMasterPassword",
                        g_variant_new("(o@(oayays))", collection.c_str(), secret), "()");
        unlocked = done != nullptr;
        if (done) g_variant_unref(done);
        g_free(sessionPath);
    } else if (alias) {
        g_variant_unref(alias);
    }
    if (session) g_variant_unref(session);
    Close(bus);
    return unlocked;
}

void PrivateKeyring::Freeze(bool frozen) {
    if (keyring_ > 0) ::kill(keyring_, frozen ? SIGSTOP : SIGCONT);
}

}  // namespace qm::test
