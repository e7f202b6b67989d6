#include "presenter/bus/NameWatch.h"

#include "presenter/bus/SessionBus.h"

namespace orbilatch::presenter::bus {

// The bus daemon takes the rule before it answers the question, which comes
// after it on the same connection, so a name that comes or goes after the
// answer is announced after it. Neither waits: a bus daemon that does not
// answer must not hold the presenter up (see awaitBusDaemon).
NameWatch::NameWatch(sd_bus* bus, Names names, Changed changed)
    : wanted_(std::move(names.wanted)), changed_(std::move(changed)) {
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
        "arg0namespace='" + names.nameSpace + "'";
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(bus, &slot, rule.c_str(), &NameWatch::onOwnerChanged, nullptr, this) < 0) return;
    changes_.reset(slot);
    names_ = call(bus, busDaemon("ListNames"), [this](sd_bus_message* reply, const sd_bus_error* error) {
        if (!error) onNames(reply);
        names_.reset();
    });
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
