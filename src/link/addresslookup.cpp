#include "addresslookup.h"

#include <chrono>
#include <thread>

namespace qmr {

AddressLookup::Outcome AddressLookup::find(const std::string &host, std::uint32_t budgetMs,
                                           std::vector<std::string> &addresses, std::string &why)
{
    auto &lookup = m_lookups[host];
    if (!lookup) {
        lookup = std::make_shared<Pending>();
        // Detached: a look-up the caller stopped waiting for ends on its own, and the state it
        // writes to lives as long as the worker holds it.
        std::thread([lookup, host, resolve = m_resolver] {
            std::vector<std::string> found;
            std::string reason;
            const bool ok = resolve(host, found, reason);
            const std::lock_guard lock(lookup->mutex);
            lookup->found = ok;
            lookup->why = std::move(reason);
            lookup->addresses = std::move(found);
            lookup->done = true;
            lookup->ready.notify_all();
        }).detach();
    }
    const std::shared_ptr<Pending> pending = lookup;
    std::unique_lock lock(pending->mutex);
    if (!pending->ready.wait_for(lock, std::chrono::milliseconds(budgetMs),
                                 [&] { return pending->done; })) {
        why = "no answer from the name server within " + std::to_string(budgetMs) + " ms";
        return Outcome::TimedOut;
    }
    if (!pending->found) {
        why = pending->why;
        lock.unlock();
        m_lookups.erase(host); // a name server may know it next time
        return Outcome::NotFound;
    }
    addresses = pending->addresses;
    return Outcome::Found;
}

} // namespace qmr
