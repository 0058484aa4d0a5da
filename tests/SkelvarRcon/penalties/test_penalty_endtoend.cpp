// The penalties installed in the real engine, against the game-server double:
// a detection that escalates to a ban, the ban told and kicked at the patrol
// pass, an in-game ban, and private mode starting a scan when it ends.
#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "lists/records.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/engineparts.h"

#include <QDate>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::ScriptedPrompter;

namespace {

QByteArray infoAnswer(const QString& name, bool nofog, bool password = false)
{
    QList<std::pair<QString, QString>> info{{"name", name},
                                            {"dm_playermodel", "american_army"},
                                            {"dm_playergermanmodel", "german_wehrmacht"},
                                            {"rate", "25000"}};
    if (nofog)
        info.append(std::pair<QString, QString>{"r_farplane_nofog", "1"});
    if (password)
        info.append(std::pair<QString, QString>{"password", "secret"});
    return test::userinfoAnswer(info);
}

struct Rig : test::EngineParts {
    Rig() : EngineParts(40, {5, 5, 30})
    {
        serveFreeServer();
        server.setVariable("clientban", "-1");
        server.setReply("getstatus", {GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
    }
    void serve(const QList<test::StatusPlayer>& table)
    {
        server.setReply("status", GameServerDouble::splitAnswer(test::statusAnswer(table), 1000));
    }
};

}  // namespace

class TestPenaltyEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void warnedKickedBannedThenEnforced()
    {
        Rig r;
        const QString today = lists::formatDate(QDate::currentDate());
        r.settings.setChecked(Settings::penaltyRow(1).warning, true);  // NoFog gives a warning
        r.settings.setText("AcWarns", "2");
        r.settings.setText("AcKicks", "2");
        r.lists.warnings().add({"10.0.0.5", "Bob", "NoFog", "2024-01-01", ""});
        r.lists.kicks().add({"10.0.0.5", "Bob", "Admin. Kick", "2024-01-01", ""});
        r.server.setVariable("clientban", "6@Team killing");
        r.serve({{4, 0, "50", "Bob", "10.0.0.5:12203"}, {6, 0, "50", "Ann", "10.0.0.6:12203"}});
        r.userinfo.insert("Bob", infoAnswer("Bob", true));
        r.userinfo.insert("Ann", infoAnswer("Ann", false));

        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols == 1 && r.idle(), 5000);
        r.session->stop();
        QTRY_VERIFY(r.idle());
        const QString notice = " was banned from this server on " + today + ". Reason: ";
        // Whether the patrol pass reads the table again is the engine's business.
        QStringList sent = r.afterWarmup();
        sent.removeAll("status");
        QCOMPARE(sent.takeFirst(), QString("sv_skelvar"));  // the scan's check of the claim
        QCOMPARE(
            sent.mid(0, 11),
            (QStringList{"dumpuser \"Bob", "say Cheat Detected!! Player: Bob Cheat: NoFog IP: 10.0.0.5", "clientkick 4",
                         "dumpuser \"Ann",
                         // the patrol pass in the same tick, which checks the claim too
                         "clientban", "set clientban -1", "sv_skelvar", "say 10.0.0.5" + notice + "2 accumulated kicks",
                         "clientkick 4", "say 10.0.0.6" + notice + "Team killing", "clientkick 6"}));
        QCOMPARE(r.lists.warnings().size(), 0);
        QCOMPARE(r.lists.kicks().size(), 0);
        QCOMPARE(r.lists.bans().size(), 2);
        QCOMPARE(r.lists.bans().at(0).reason, QString("2 accumulated kicks"));
        QCOMPARE(r.lists.bans().at(1).reason, QString("Team killing"));
    }

    // One summary per pass: zombies are not read, every record a pass adds counts.
    // One summary per pass. Ann's user info never comes (a lost answer, after
    // its second try), and a ban another program writes while the patrol pass
    // starts is read in by that pass: neither is a penalty.
    void passSummaries()
    {
        Rig r;
        r.settings.setChecked(Settings::penaltyRow(1).warning, true);
        r.server.setVariable("clientban", "6@Team killing");
        r.serve({{4, 0, "50", "Bob", "10.0.0.5:12203"},
                 {6, 0, "50", "Ann", "10.0.0.6:12203"},
                 {7, 0, "ZMBI", "Zed", "10.0.0.7:12203"}});
        r.userinfo.insert("Bob", infoAnswer("Bob", true));
        r.lostUsers << "Ann";
        r.lists.load(QDate::currentDate());
        QObject::connect(r.engine.get(), &Engine::passStarted, r.engine.get(), [&](bool scan) {
            if (!scan)
                QVERIFY(lists::appendRecords(r.dir.filePath("bans.lst"),
                                             {{"10.9.9.9", "Other", "Elsewhere", "2026-01-01", QString()}},
                                             lists::ListKind::Bans, nullptr));
        });
        QList<PassSummary> summaries;
        QObject::connect(r.engine.get(), &Engine::passSummary, r.engine.get(),
                         [&](const PassSummary& s) { summaries.append(s); });
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols == 1 && r.idle(), 5000);
        r.session->stop();
        QTRY_VERIFY(r.idle());
        QCOMPARE(summaries.size(), 2);
        const PassSummary& scan = summaries[0];
        const PassSummary& patrol = summaries[1];
        // The scan warns Bob; the patrol pass takes over the in-game ban of Ann.
        QCOMPARE((QList<int>{scan.scan, scan.playersRead, scan.answersLost, scan.penaltiesGiven}),
                 (QList<int>{true, 2, 1, 1}));
        QCOMPARE((QList<int>{patrol.scan, patrol.playersRead, patrol.answersLost, patrol.penaltiesGiven}),
                 (QList<int>{false, 2, 0, 1}));
        QCOMPARE(r.lists.warnings().size(), 1);
        QCOMPARE(r.lists.bans().size(), 2);
    }

    void privateModeEndsInAScan()
    {
        Rig r;
        r.settings.setText("txtPRP", "Secret");
        r.hooks->setCountdownIntervalForTests(40);
        r.serve({{0, 0, "50", "Public", "10.0.0.1:1"}, {1, 0, "50", "Member", "10.0.0.2:1"}});
        r.userinfo.insert("Public", infoAnswer("Public", false));
        r.userinfo.insert("Member", infoAnswer("Member", false, true));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols == 1 && r.idle(), 5000);
        QCOMPARE(r.scans, 1);
        r.server.clearReceived();

        r.hooks->makePrivate();
        QTRY_VERIFY_WITH_TIMEOUT(r.scans == 2 && r.idle(), 5000);
        r.session->stop();
        QTRY_VERIFY(r.idle());
        QStringList expected;
        for (int t = 60; t > 0; t -= 10)
            expected << QString("say Server will be private in %1 seconds, public players please leave").arg(t);
        expected << "status"
                 << "sv_skelvar"
                 << "dumpuser \"Public"
                 << "status"
                 << "clientkick 0"
                 << "dumpuser \"Member";
        QCOMPARE(r.server.commands().mid(0, expected.size()), expected);
    }
};

QTEST_GUILESS_MAIN(TestPenaltyEndToEnd)
#include "test_penalty_endtoend.moc"
