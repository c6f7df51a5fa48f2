#pragma once
// GET and POST /api/config: the configuration form, served by whoever binds the
// window's Qt-free model. The server only checks who may ask; the endpoint checks
// what is asked.
#include <nlohmann/json.hpp>

namespace varnel::web {

class ConfigEndpoint {
public:
    ConfigEndpoint() = default;
    ConfigEndpoint(const ConfigEndpoint&) = delete;
    ConfigEndpoint& operator=(const ConfigEndpoint&) = delete;
    virtual ~ConfigEndpoint() = default;

    // {"controls":{...},"messages":[...],"questions":[],"closed":b,"busy":b,"pending":n}
    virtual nlohmann::json get() = 0;
    // A request already parsed as JSON (any shape: the endpoint refuses what it cannot
    // take, naming the field); {"controls":{changed},"messages":[...],"questions":[...],"closed":b}.
    virtual nlohmann::json post(const nlohmann::json& request) = 0;
    // No page has been open for `idleMs`: a form left open is closed, or false while it
    // is busy (ask again later).
    virtual bool abandon(int idleMs) = 0;
};

}  // namespace varnel::web
