#include "presenter/bus/NameWatch.h"

#include "presenter/bus/SessionBus.h"

namespace orbilatch::presenter::bus {

// The rule goes to the bus daemon before the question, so a name that comes
// or goes after the answer is announced after it.
NameWatch::NameWatch(sd_bus* bus, const std::string& nameSpace, Wanted wanted, Changed changed)
    : wanted_(std::move(wanted)), changed_(std::move(changed)) {
    changes_ = subscribe(bus,
                         "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                         "member='NameOwnerChanged',arg0namespace='" + nameSpace + "'",
                         [this](sd_bus_message* message) { onOwnerChanged(message); });
    listing_ = call(bus, {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames"},
                    [this](sd_bus_message* reply, const sd_bus_error* error) {
                        if (!error) onNames(reply);
                    });
}

void NameWatch::onOwnerChanged(sd_bus_message* message) {
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || !wanted_(name)) return;
    if (*before != '\0' && *after != '\0') set(name, false);
    set(name, *after != '\0');
}

void NameWatch::onNames(sd_bus_message* reply) {
    if (sd_bus_message_enter_container(reply, 'a', "s") < 0) return;
    const char* name = nullptr;
    while (sd_bus_message_read(reply, "s", &name) > 0) {
        if (wanted_(name)) set(name, true);
    }
}

void NameWatch::set(const std::string& name, bool owned) {
    const bool known = owned_.contains(name);
    if (known == owned) return;
    if (owned) {
        owned_.insert(name);
    } else {
        owned_.erase(name);
    }
    changed_(name, owned);
}

}  // namespace orbilatch::presenter::bus
