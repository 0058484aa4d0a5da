#include "SkelvarRcon/web/webactions.h"

#include "SkelvarRcon/web/webserver.h"

namespace skelvar::rcon::web {

WebActions::WebActions(Monitor& monitor, AuditLog& audit, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_audit(audit)
{
}

WebActions::~WebActions() = default;

std::optional<WebReply> WebActions::run(const WebCall&, Later)
{
    return WebReply::error(404, QStringLiteral("No such action."));
}

QJsonObject WebActions::consoleTranscript() const
{
    return {};
}

}  // namespace skelvar::rcon::web
