// The settings on the web page: every value of the window's tabs under the
// window's caption, admin only; an edit runs the window's checks, tells their
// messages in the answer instead of a message box, and writes
// rconskelvar.ini; a refused edit changes nothing, in memory or on disk.
#include "SkelvarRcon/store/settingsform.h"
#include "tests/SkelvarRcon/web/webrig.h"
#include "tests/support/files.h"

#include <QJsonArray>
#include <QSet>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::HttpAnswer;
using skelvar::test::WebRig;

namespace {

QList<QJsonObject> requestsOf(const QByteArray& json)
{
    QList<QJsonObject> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(json).array())
        out.append(v.toObject());
    return out;
}

// "control=value" for texts, "control" / "!control" for ticked / not ticked.
void expectValues(const Settings& s, const QStringList& expected)
{
    for (const QString& e : expected) {
        const qsizetype eq = e.indexOf('=');
        if (eq >= 0) {
            QCOMPARE(s.text(e.left(eq)), e.mid(eq + 1));
        } else if (e.startsWith('!')) {
            QVERIFY2(!s.isChecked(e.mid(1)), qPrintable(e));
        } else {
            QVERIFY2(s.isChecked(e), qPrintable(e));
        }
    }
}

QString ini(const WebRig& rig)
{
    return rig.dir.filePath("rconskelvar.ini");
}

}  // namespace

class TestWebSettings : public QObject {
    Q_OBJECT

private slots:
    void theFormHoldsEveryValueOnce()
    {
        WebRig rig;
        rig.loginViewer();
        QCOMPARE(rig.get("/api/settings").status, 403);  // they hold the rcon password
        rig.loginAdmin();
        const QJsonObject form = rig.get("/api/settings").json();
        QCOMPARE(form.value("protected").toBool(), false);
        QStringList titles;
        QStringList controls;
        const Settings& s = rig.monitor->settings;
        for (const QJsonValue& tab : form.value("tabs").toArray()) {
            titles.append(tab.toObject().value("title").toString());
            for (const QJsonValue& line : tab.toObject().value("lines").toArray()) {
                for (const QJsonValue& f : line.toObject().value("fields").toArray()) {
                    const QJsonObject field = f.toObject();
                    const QString control = field.value("control").toString();
                    controls.append(control);
                    const QJsonValue value = field.value("value");
                    if (field.value("form").toString() == "text")
                        QCOMPARE(value.toString(), s.text(control));
                    else
                        QCOMPARE(value.toBool(), s.isChecked(control));
                }
            }
        }
        QCOMPARE(titles, (QStringList{"Main Setup", "Cheat Management", "Server Management", "Penalties Management"}));
        QCOMPARE(controls.size(), Settings::valueCount);
        QCOMPARE(QSet<QString>(controls.begin(), controls.end()).size(), Settings::valueCount);

        // A value the window has disabled is shown disabled: the private-slot
        // alerts while private clients are not scanned, Silent without logging.
        auto enabled = [&rig](const QString& control) {
            for (const QJsonValue& tab : rig.get("/api/settings").json().value("tabs").toArray())
                for (const QJsonValue& line : tab.toObject().value("lines").toArray())
                    for (const QJsonValue& f : line.toObject().value("fields").toArray())
                        if (f.toObject().value("control").toString() == control)
                            return f.toObject().value("enabled").toBool();
            return true;
        };
        QVERIFY(!enabled("Alert1"));
        QVERIFY(enabled("Silent"));
        rig.monitor->settings.setChecked("Logea", false);
        QVERIFY(!enabled("Silent"));
    }

    void editsAsTheWindowDoes_data()
    {
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("told");  // titles of the messages, across the answers
        QTest::newRow("patrol below 30") << QByteArray(R"([{"MinPolt":"12"}])") << QStringList{"MinPolt=30"}
                                         << QStringList{};
        QTest::newRow("patrol of 60 kept")
            << QByteArray(R"([{"MinPolt":"60"}])") << QStringList{"MinPolt=60"} << QStringList{};
        QTest::newRow("patrol not a number")
            << QByteArray(R"([{"MinPolt":"soon"}])") << QStringList{"MinPolt=30"} << QStringList{};
        QTest::newRow("days typed choose For")
            << QByteArray(R"([{"Text2":"14"}])") << QStringList{"Text2=14", "Option2", "!Option1"} << QStringList{};
        QTest::newRow("empty rcon password")
            << QByteArray(R"([{"txtPWD":""}])") << QStringList{"txtPWD="} << QStringList{"No rcon password provided!!"};
        QTest::newRow("private clients without a tag")
            << QByteArray(R"([{"txtTAG":""},{"Check1":true}])") << QStringList{"txtTAG=", "!Check1"}
            << QStringList{"No tag provided!!", "No tag provided!!"};
        QTest::newRow("private clients, then their alert")
            << QByteArray(R"([{"Check1":true},{"Alert1":"Private slot! $name"}])")
            << QStringList{"Check1", "Alert1=Private slot! $name"} << QStringList{};
        QTest::newRow("reserved skins without a password")
            << QByteArray(R"([{"txtPRP":""},{"Check5":true}])") << QStringList{"txtPRP=", "!Check5"}
            << QStringList{"No password provided!!", "No password provided!!"};
        QTest::newRow("reserved skins open ban after kicks") << QByteArray(R"([{"Check5":true},{"AcKicks":"5"}])")
                                                             << QStringList{"Check5", "AcKicks=5"} << QStringList{};
        QTest::newRow("logging off unticks silent")
            << QByteArray(R"([{"Silent":true},{"Logea":false}])") << QStringList{"!Silent", "!Logea"} << QStringList{};
        QTest::newRow("a penalty row in one request")
            << QByteArray(R"([{"Option4_0":true,"Text3_7":"5","Cheats_0":false}])")
            << QStringList{"Option4_0", "!Option3_0", "!Option5_0", "Text3_7=5", "!Cheats_0"} << QStringList{};
        QTest::newRow("a template with markup and Latin-1")
            << QByteArray("[{\"Alert7\":\"<b>$ip</b> bann\\u00e9; \\\"$reason\\\"\"}]")
            << QStringList{QStringLiteral(u"Alert7=<b>$ip</b> bann\u00e9; \"$reason\"")} << QStringList{};
    }
    void editsAsTheWindowDoes()
    {
        QFETCH(QByteArray, requests);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, told);
        WebRig rig;
        rig.loginAdmin();
        QStringList messages;
        for (const QJsonObject& values : requestsOf(requests)) {
            const HttpAnswer a = rig.post("/api/settings", {{"values", values}});
            QVERIFY2(a.status == 200, a.body);
            QCOMPARE(a.json().value("saved").toBool(), true);
            for (const QJsonValue& m : a.json().value("messages").toArray())
                messages.append(m.toObject().value("title").toString());
            // The answer brings the form as it now is.
            QCOMPARE(a.json().value("settings").toObject().value("tabs").toArray().size(), 4);
        }
        expectValues(rig.monitor->settings, expected);
        QCOMPARE(messages, told);
        // Told in the answer, not in a box at the window nobody may be at.
        QCOMPARE(rig.prompter.boxes(), QStringList());
        // Written at once, as the window's autosave writes it.
        QCOMPARE(test::readFile(ini(rig)), rig.monitor->settings.serialize());
        const QByteArray audit = rig.auditLog();
        QCOMPARE(audit.count("\tsettings "), requestsOf(requests).size());
        QVERIFY2(!audit.contains("refused"), audit);
    }

    void theFileIsWrittenAsTheWindowWritesIt()
    {
        WebRig rig;
        rig.loginAdmin();
        QCOMPARE(rig.post("/api/settings",
                          {{"values",
                            QJsonObject{{"txtSVR", "10.0.0.2"}, {"MinPolt", "12"}, {"Text2", "14"}, {"Check2", true}}}})
                     .status,
                 200);
        // The defaults with the server's address, a patrol of 30 s, For 14
        // days and the ping kick on. Checks are 1 or 0, options -1 or 0.
        // clang-format off
        const QByteArray expected =
            "10.0.0.2\x02" "12203\x02" "kuTrob\x02" "3\x02" "30\x02"
            "1\x02" "Warning: Possible non-optimized connection - Player: $name\x02"
            "1\x02" "0\x02"
            "14\x02" "0\x02" "-1\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "1\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP\x02"
            "[MyClan]\x02" "KuTrob\x02"
            "Server will be private in $time seconds, public players please leave\x02"
            "0\x02" "-1\x02" "0\x02" "0\x02" "0\x02"
            "0\x02" "0\x02" "-1\x02" "0\x02" "0\x02"
            "Warning: Public client using private slot. Player: $name\x02"
            "Warning: Public slot used by private player. Player: $name\x02"
            "Warning: Public client using reserved skin. Player: $name Skin: $skin\x02"
            "0\x02" "3\x02"
            "$ip was banned from this server on $date. Reason: $reason\x02"
            "0\x02" "1\x02" "160\x02" "4\x02"
            "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name\x02"
            "1\x02\r\n";
        // clang-format on
        QCOMPARE(test::readFile(ini(rig)), expected);
    }

    void refusedEditsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("before");  // accepted requests first
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QByteArray none = "[]";
        QTest::newRow("unknown name") << none << QByteArray(R"({"values":{"Nope":"1"}})") << 400;
        QTest::newRow("one bad among good")
            << none << QByteArray(R"({"values":{"MinPolt":"60","Text2":"9","Nope":"1"}})") << 400;
        QTest::newRow("field separator") << none << QByteArray(R"({"values":{"txtSVR":"10.0.0.1\u0002x"}})") << 400;
        QTest::newRow("line break") << none << QByteArray(R"({"values":{"Alert3":"one\r\ntwo"}})") << 400;
        QTest::newRow("beyond Latin-1") << none << QByteArray(R"({"values":{"Alert3":"Ωmega"}})") << 400;
        QTest::newRow("too long") << none << QByteArray(R"({"values":{"Alert3":")") + QByteArray(1001, 'a') + "\"}}"
                                  << 400;
        QTest::newRow("a check as text") << none << QByteArray(R"({"values":{"Check2":"1"}})") << 400;
        QTest::newRow("a text as a number") << none << QByteArray(R"({"values":{"MinPolt":60}})") << 400;
        QTest::newRow("an option unchosen") << none << QByteArray(R"({"values":{"Option1":false}})") << 400;
        QTest::newRow("two options of a group")
            << none << QByteArray(R"({"values":{"Option1":true,"Option2":true}})") << 400;
        QTest::newRow("no values") << none << QByteArray(R"({"values":{}})") << 400;
        QTest::newRow("values as a list") << none << QByteArray(R"({"values":[["MinPolt","60"]]})") << 400;
        QTest::newRow("silent without logging")
            << QByteArray(R"([{"Logea":false}])") << QByteArray(R"({"values":{"Silent":true}})") << 409;
        QTest::newRow("alert of unscanned private clients")
            << none << QByteArray(R"({"values":{"Alert1":"x"}})") << 409;
        QTest::newRow("ban after kicks without reserved skins")
            << none << QByteArray(R"({"values":{"AcKicks":"9"}})") << 409;
    }
    void refusedEditsChangeNothing()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        WebRig rig;
        rig.loginAdmin();
        for (const QJsonObject& values : requestsOf(before))
            QCOMPARE(rig.post("/api/settings", {{"values", values}}).status, 200);
        const QByteArray memory = rig.monitor->settings.serialize();
        const QByteArray file = test::readFile(ini(rig));
        const HttpAnswer a = rig.request("POST", "/api/settings", body);
        QCOMPARE(a.status, status);
        QVERIFY(a.json().contains("error"));
        QTest::qWait(20);  // an autosave would have written by now
        QCOMPARE(rig.monitor->settings.serialize(), memory);
        QCOMPARE(test::readFile(ini(rig)), file);
        QCOMPARE(rig.prompter.boxes(), QStringList());
        QCOMPARE(rig.auditLog().count("\tsettings\trefused: "), 1);
    }

    void onlyAnAdminWithTheTokenEdits()
    {
        WebRig rig;
        rig.loginViewer();
        QCOMPARE(rig.post("/api/settings", {{"values", QJsonObject{{"MinPolt", "60"}}}}).status, 403);
        rig.loginAdmin();
        rig.csrf.clear();
        QCOMPARE(rig.post("/api/settings", {{"values", QJsonObject{{"MinPolt", "60"}}}}).status, 403);
        QCOMPARE(rig.monitor->settings.patrolSeconds(), QString("45"));
        QVERIFY(!QFile::exists(ini(rig)));
    }

    void aWriteProtectedFileIsLeftAlone()
    {
        WebRig rig({}, {}, [](const QString& folder) {
            Settings s;
            s.setText("MinPolt", "90");
            s.save(folder + "/rconskelvar.ini");
            QFile::setPermissions(folder + "/rconskelvar.ini", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        });
        rig.loginAdmin();
        const QByteArray file = test::readFile(ini(rig));
        QCOMPARE(rig.get("/api/settings").json().value("protected").toBool(), true);
        const HttpAnswer a = rig.post("/api/settings", {{"values", QJsonObject{{"MinPolt", "60"}}}});
        QCOMPARE(a.status, 409);
        QVERIFY2(a.json().value("error").toString().contains("read-only"), a.body);
        QCOMPARE(rig.monitor->settings.patrolSeconds(), QString("90"));
        QCOMPARE(test::readFile(ini(rig)), file);
        // Sending what is there already changes nothing and needs no write.
        QCOMPARE(rig.post("/api/settings", {{"values", QJsonObject{{"MinPolt", "90"}}}}).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestWebSettings)
#include "test_websettings.moc"
