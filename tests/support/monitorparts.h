#pragma once

// The monitor's parts without its window, pointed at a game-server double in
// a scratch folder. Each test's rig adds the engine or penalties it needs.

#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "tests/support/gameserverdouble.h"
#include "tests/support/scriptedprompter.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace skelvar::test {

// No request out or queued, also after one turn of the event loop: a caller
// resumes from the event loop after its answer and only then queues its next
// request, so a single look can fall between two requests of one step.
inline bool rconIdle(const skelvar::rcon::RconTransport& rcon)
{
    const auto quiet = [&rcon] { return !rcon.busy() && rcon.queued() == 0; };
    if (!quiet())
        return false;
    QCoreApplication::processEvents();
    return quiet();
}

// Ordinary tests keep the double's rate limit on at a short period and pace
// the transport to match: no request is ever dropped or waits for the bucket.
constexpr int kTestRatePeriodMs = 5;
inline void useTestRate(GameServerDouble& server, rcon::RconTransport& rcon)
{
    server.setRateLimit(kTestRatePeriodMs);
    rcon.setPacingForTests({rcon::RconTransport::kEnginePacing.burst, kTestRatePeriodMs});
}

struct MonitorParts {
    QTemporaryDir dir;
    GameServerDouble server;
    rcon::Settings settings;
    rcon::RconTransport rcon;
    rcon::UiState ui;
    ScriptedPrompter prompter;
    rcon::ListStore lists;
    rcon::PlayerList players;
    rcon::SkelvarLog log;
    std::unique_ptr<rcon::MonitorSession> session;
    QHash<QString, QByteArray> userinfo;  // dumpuser answers, by the name asked for
    QStringList lostUsers;                // dumpuser gets no answer for these names

    explicit MonitorParts(int replyWaitMs) : rcon(nullptr, replyWaitMs)
    {
        useTestRate(server, rcon);
        rcon.setActivityLogPath(dir.filePath("activity.log"));
        lists.setFolder(dir.path());
        log.setPath(dir.filePath("skelvar.log"));
        settings.setText("txtSVR", server.host());
        settings.setText("txtPORT", server.portText());
        settings.setText("txtPWD", server.password());
        session = std::make_unique<rcon::MonitorSession>(rcon, settings, ui, prompter);
    }

    // An unclaimed server running the game and script version the probe expects;
    // dumpuser answers from `userinfo`, and "is not on the server" for a name not there.
    void serveFreeServer()
    {
        server.setVariable("sv_skelvar", "0");
        server.setVariable("version", "Medal of Honor Allied Assault 1.11 win-x86 Mar 2002");
        server.setVariable("cheats", "0");
        server.setVariable("versionskelvar", "2.1");
        server.setHandler([this](const GameServerDouble::Received& r) -> std::optional<GameServerDouble::Reply> {
            static const QString ask = QStringLiteral("dumpuser \"");
            if (!r.command.startsWith(ask))
                return std::nullopt;
            const QString name = r.command.mid(ask.size());
            if (lostUsers.contains(name))
                return GameServerDouble::Reply{};
            if (!userinfo.contains(name))
                return GameServerDouble::engineAnswer(GameServerDouble::notOnServerText(name));
            return GameServerDouble::engineAnswer(withNameLine(userinfo.value(name), name));
        });
    }

    // A server's table always names its player; fixtures that leave the
    // line out get the name that was asked for.
    static QByteArray withNameLine(const QByteArray& table, const QString& name)
    {
        static const QRegularExpression kNameLine(QStringLiteral("(^|\n)name +: "));
        if (QString::fromLatin1(table).contains(kNameLine))
            return table;
        const qsizetype rule = table.indexOf("--------\n");
        const qsizetype at = rule < 0 ? 0 : rule + 9;
        return table.left(at) + QStringLiteral("name").leftJustified(21).toLatin1() + ": " + name.toLatin1() + "\n" +
               table.mid(at);
    }

    QStringList commands() const { return server.commands(); }
    // skelvar.log's lines without their date and time.
    QStringList logLines() const
    {
        QFile f(dir.filePath("skelvar.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QByteArray& l : f.readAll().split('\n'))
            if (!l.isEmpty())
                out << QString::fromLatin1(l).section(' ', 2).chopped(1);  // drop date, time and CR
        return out;
    }
    bool transportIdle() const { return rconIdle(rcon); }

    // The commands after the warm-up (the probe's last one is resetvalue).
    QStringList afterWarmup() const
    {
        const QStringList all = server.commands();
        for (int i = 0; i < all.size(); ++i)
            if (all[i].startsWith("set resetvalue "))
                return all.mid(i + 1);
        return {};
    }
};

}  // namespace skelvar::test
