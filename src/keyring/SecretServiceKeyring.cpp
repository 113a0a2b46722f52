#include "keyring/SecretServiceKeyring.h"

#include <libsecret/secret.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace qm {

namespace {

const SecretSchema& Schema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.quarrymoth.NewsServer";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"host", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return schema;
}

// The attributes an entry is found by; the table borrows the strings.
GHashTable* Attributes(const std::string& host, const std::string& user) {
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("host"), const_cast<char*>(host.c_str()));
    g_hash_table_insert(table, const_cast<char*>("user"), const_cast<char*>(user.c_str()));
    return table;
}

const char kLocked[] = "the keyring is locked";
const char kNoDefault[] = "the keyring has no default collection";

// Cancels a call's cancellable when its time is up, from a thread of its own: the blocking
// libsecret calls return at once when cancelled. It holds the cancellable until its thread ends.
class Deadline {
public:
    Deadline(GCancellable* cancellable, std::chrono::milliseconds timeout)
        : cancellable_(G_CANCELLABLE(g_object_ref(cancellable))), thread_([this, timeout] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, timeout, [this] { return done_; })) {
                  passed_ = true;
                  g_cancellable_cancel(cancellable_);
              }
          }) {}
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        thread_.join();
        g_object_unref(cancellable_);
    }
    bool Passed() const { return passed_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::atomic<bool> passed_{false};
    std::thread thread_;  // last: started once the members it uses exist
};

// One call to the service: its connection, its cancellable and its deadline.
class ServiceCall {
public:
    explicit ServiceCall(std::chrono::milliseconds timeout)
        : timeout_(timeout), cancellable_(g_cancellable_new()), deadline_(cancellable_, timeout) {}
    ServiceCall(const ServiceCall&) = delete;
    ServiceCall& operator=(const ServiceCall&) = delete;
    ~ServiceCall() {
        if (service_) g_object_unref(service_);
        if (bus_) g_object_unref(bus_);
        g_object_unref(cancellable_);
    }

    // The service with a session for passing secrets; null with answer set when unreachable.
    // A session bus that goes away must not end the program (GLib's default for its shared
    // connection, which libsecret uses).
    SecretService* Open(KeyringAnswer& answer) {
        GError* error = nullptr;
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable_, &error);
        if (!bus_) {
            answer = Failure(error);
            return nullptr;
        }
        g_dbus_connection_set_exit_on_close(bus_, FALSE);
        service_ = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr,
                                            SECRET_SERVICE_OPEN_SESSION, cancellable_, &error);
        if (!service_) answer = Failure(error);
        return service_;
    }

    // The answer for a call that failed with error (which is freed).
    KeyringAnswer Failure(GError* error) const {
        std::string reason;
        if (deadline_.Passed()) {
            reason = "no answer within " + Seconds() + " seconds";
        } else if (error && error->message && *error->message) {
            reason = error->message;
        } else {
            reason = "unknown error";
        }
        if (error) g_error_free(error);
        return KeyringAnswer::Unreachable(reason);
    }

    GCancellable* Cancellable() const { return cancellable_; }

    // The collection new passwords go to; null with answer set when there is none to use.
    SecretCollection* DefaultCollection(KeyringAnswer& answer) {
        GError* error = nullptr;
        SecretCollection* collection = secret_collection_for_alias_sync(
            service_, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable_, &error);
        if (!collection) {
            answer = error ? Failure(error) : KeyringAnswer::Unreachable(kNoDefault);
            return nullptr;
        }
        if (secret_collection_get_locked(collection)) {
            g_object_unref(collection);
            answer = KeyringAnswer::Unreachable(kLocked);
            return nullptr;
        }
        return collection;
    }

private:
    std::string Seconds() const {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(timeout_.count()) / 1000);
        return text;
    }

    std::chrono::milliseconds timeout_;
    GCancellable* cancellable_;
    Deadline deadline_;
    GDBusConnection* bus_ = nullptr;
    SecretService* service_ = nullptr;
};

// The entries kept for user at host, secrets loaded where unlocked if flags ask for them. False
// with answer set when the search failed.
bool Search(ServiceCall& call, SecretService* service, const std::string& host,
            const std::string& user, SecretSearchFlags flags, GList*& items,
            KeyringAnswer& answer) {
    GHashTable* attributes = Attributes(host, user);
    GError* error = nullptr;
    items = secret_service_search_sync(service, &Schema(), attributes,
                                       static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | flags),
                                       call.Cancellable(), &error);
    g_hash_table_unref(attributes);
    if (!error) return true;
    answer = call.Failure(error);
    return false;
}

std::string ValueText(SecretValue* value) {
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    return std::string(bytes, length);
}

}  // namespace

KeyringAnswer SecretServiceKeyring::Offered() {
    ServiceCall call(timeout_);
    KeyringAnswer answer = KeyringAnswer::Done();
    call.Open(answer);
    return answer;
}

// A password behind a lock counts as out of reach: unlocking would put a prompt in front of
// the user (or wait for one that never shows, in a scheduled run).
KeyringAnswer SecretServiceKeyring::Lookup(const std::string& host, const std::string& user) {
    ServiceCall call(timeout_);
    KeyringAnswer answer;
    SecretService* service = call.Open(answer);
    if (!service) return answer;
    GList* items = nullptr;
    if (!Search(call, service, host, user, SECRET_SEARCH_LOAD_SECRETS, items, answer)) {
        return answer;
    }
    bool locked = false;
    bool found = false;
    for (GList* at = items; at && !found; at = at->next) {
        auto* item = static_cast<SecretItem*>(at->data);
        if (secret_item_get_locked(item)) {
            locked = true;
        } else if (SecretValue* value = secret_item_get_secret(item)) {
            answer = KeyringAnswer::Done(ValueText(value));
            secret_value_unref(value);
            found = true;
        }
    }
    g_list_free_full(items, g_object_unref);
    if (found) return answer;
    if (locked) return KeyringAnswer::Unreachable(kLocked);
    // A locked collection may hide the entry from the search as well.
    if (SecretCollection* collection = call.DefaultCollection(answer)) {
        g_object_unref(collection);
        return KeyringAnswer::NotFound();
    }
    return answer.reason == kNoDefault ? KeyringAnswer::NotFound() : answer;
}

KeyringAnswer SecretServiceKeyring::Store(const std::string& host, const std::string& user,
                                          const std::string& password) {
    ServiceCall call(timeout_);
    KeyringAnswer answer = KeyringAnswer::Done();
    if (!call.Open(answer)) return answer;
    SecretCollection* collection = call.DefaultCollection(answer);
    if (!collection) return answer;
    GHashTable* attributes = Attributes(host, user);
    SecretValue* value =
        secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain");
    const std::string label = "Quarrymoth password for " + user + " at " + host;
    GError* error = nullptr;
    SecretItem* item =
        secret_item_create_sync(collection, &Schema(), attributes, label.c_str(), value,
                                SECRET_ITEM_CREATE_REPLACE, call.Cancellable(), &error);
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    g_object_unref(collection);
    if (!item) return call.Failure(error);
    g_object_unref(item);
    return KeyringAnswer::Done();
}

KeyringAnswer SecretServiceKeyring::Remove(const std::string& host, const std::string& user) {
    ServiceCall call(timeout_);
    KeyringAnswer answer = KeyringAnswer::Done();
    SecretService* service = call.Open(answer);
    if (!service) return answer;
    GList* items = nullptr;
    if (!Search(call, service, host, user, SECRET_SEARCH_NONE, items, answer)) return answer;
    for (GList* at = items; at && answer.IsDone(); at = at->next) {
        auto* item = static_cast<SecretItem*>(at->data);
        GError* error = nullptr;
        if (secret_item_get_locked(item)) {
            answer = KeyringAnswer::Unreachable(kLocked);
        } else if (!secret_item_delete_sync(item, call.Cancellable(), &error)) {
            answer = call.Failure(error);
        }
    }
    g_list_free_full(items, g_object_unref);
    return answer;
}

PasswordKeyring& DesktopKeyring() {
    // Never destroyed: a worker may still be in a call while the program ends.
    static auto* keyring = new SecretServiceKeyring(std::chrono::seconds(5));
    return *keyring;
}

}  // namespace qm
