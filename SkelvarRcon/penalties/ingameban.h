#pragma once
// The in-game ban request that the server keeps in its variable clientban.

#include <QString>

#include <optional>

namespace skelvar::rcon {

struct InGameBanRequest {
    QString target;  // a client number
    QString reason;  // safe for a command and a list file
};

struct ClientBanValue {
    // The variable holds something other than nothing or "-1": it is reset.
    bool set = false;
    // What it asks for; nullopt when the value is not a usable request.
    std::optional<InGameBanRequest> request;
};

// The answer to the bare "clientban": `"clientban" is:"5@Team killing" ...`,
// read like every other printed variable.
ClientBanValue parseClientBan(const QString& answer);

}  // namespace skelvar::rcon
