#pragma once
// The double the service tests run RconSkelvar against: free, running the
// script, with Bob at 10.0.0.5 in slot 4; a scan every minute, a patrol pass
// every two seconds; and the transport timing of the program under test.

#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/monitorparts.h"

#include <QString>
#include <QTest>

namespace skelvar::test {

// For SKELVAR_TEST_TIMING: the transport paced like the rig's double.
inline const QString kServiceTiming =
    QStringLiteral("reply=40,warmup=5,follow=5,tick=10,pace=%1").arg(kTestRatePeriodMs);

struct ServiceRig : MonitorParts {
    using Info = QList<std::pair<QString, QString>>;

    // Bob's user info: his name, `more`, his rate.
    explicit ServiceRig(const Info& more = {}) : MonitorParts(40)
    {
        serveFreeServer();
        server.setReply("getstatus", {GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
        server.setReply("status",
                        GameServerDouble::splitAnswer(statusAnswer({{4, 0, "50", "Bob", "10.0.0.5:12203"}}), 1000));
        userinfo.insert("Bob", userinfoAnswer(Info{{"name", "Bob"}} + more + Info{{"rate", "25000"}}));
        settings.setText("txtMin", "1");
        settings.setText("MinPolt", "2");
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void saveSettings() { QVERIFY(settings.save(path("rconskelvar.ini"))); }
};

}  // namespace skelvar::test
