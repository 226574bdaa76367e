#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qmr {

// Name look-ups whose wait is bounded: each runs on a worker of its own, so a name server that
// never answers costs the caller its budget and no more. A look-up still running is waited for
// again by the next call for the same name, and a name found is kept for the object's life
// (the program's run). The system's look-up itself comes from the platform.
class AddressLookup
{
public:
    // Resolves host into addresses (each a socket address's bytes, in the system's order);
    // false with why set when the name does not resolve. Runs on the worker.
    using Resolver = std::function<bool(const std::string &host,
                                        std::vector<std::string> &addresses, std::string &why)>;
    enum class Outcome
    {
        Found,
        NotFound,
        TimedOut,
    };

    explicit AddressLookup(Resolver resolver) : m_resolver(std::move(resolver)) {}
    Outcome find(const std::string &host, std::uint32_t budgetMs,
                 std::vector<std::string> &addresses, std::string &why);

private:
    // One name's look-up, shared with the worker that runs it.
    struct Pending
    {
        std::mutex mutex;
        std::condition_variable ready;
        bool done = false;
        bool found = false;
        std::string why;
        std::vector<std::string> addresses;
    };
    Resolver m_resolver;
    std::map<std::string, std::shared_ptr<Pending>> m_lookups;
};

} // namespace qmr
