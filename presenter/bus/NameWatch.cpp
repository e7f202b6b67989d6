#include "presenter/bus/NameWatch.h"

namespace orbilatch::presenter::bus {

// The rule is in place before the question, so a name that comes or goes
// after the answer is announced after it. Both wait for the bus daemon (never
// for a program), so that the first command finds the programs that run.
NameWatch::NameWatch(sd_bus* bus, const std::string& nameSpace, Wanted wanted, Changed changed)
    : wanted_(std::move(wanted)), changed_(std::move(changed)) {
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
        "arg0namespace='" + nameSpace + "'";
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus, &slot, rule.c_str(), &NameWatch::onOwnerChanged, this) < 0) return;
    changes_.reset(slot);
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames",
                           nullptr, &reply, "") >= 0) {
        onNames(SdBusMessagePtr(reply).get());
    }
}

int NameWatch::onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* watch = static_cast<NameWatch*>(self);
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || !watch->wanted_(name)) return 0;
    if (*before != '\0' && *after != '\0') watch->set(name, false);
    watch->set(name, *after != '\0');
    return 0;
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
