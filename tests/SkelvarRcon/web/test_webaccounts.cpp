// The web page's accounts: PBKDF2 keys with their own salt and rounds, the
// file's lines, and RconSkelvar --web-user writing them from standard input.
#include "SkelvarRcon/web/webaccounts.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace skelvar::rcon::web;
using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {
constexpr int kFewRounds = 1000;
}

class TestWebAccounts : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString path() const { return dir.filePath(Accounts::fileName()); }

    // RconSkelvar with the arguments and stdin; its exit status and standard error.
    int runProgram(const QStringList& arguments, const QByteArray& input, QString* errorText = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(skelvar::test::environmentWithoutDisplay());
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(RCONSKELVAR_PATH), arguments);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (errorText)
            *errorText = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void init() { QFile::remove(path()); }

    void theKeyIsPbkdf2OfSaltAndRounds()
    {
        // RFC 7914's PBKDF2-HMAC-SHA256 vector (P="passwd", S="salt", c=1).
        QCOMPARE(Accounts::derive("passwd", "salt", 1).toHex(),
                 QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
        Accounts a;
        QString error;
        QVERIFY(a.set("alice", Role::Admin, "pw one", &error, kFewRounds));
        QVERIFY(a.set("bob", Role::Admin, "pw one", &error, kFewRounds));
        const Account alice = a.accounts().at(0);
        const Account bob = a.accounts().at(1);
        QCOMPARE(alice.rounds, kFewRounds);
        QCOMPARE(alice.salt.size(), Accounts::kSaltBytes);
        // The same password under another salt is another key.
        QVERIFY(alice.salt != bob.salt);
        QVERIFY(alice.key != bob.key);
        QCOMPARE(alice.key, Accounts::derive("pw one", alice.salt, kFewRounds));
        // Fewer rounds than the floor are raised to it.
        QVERIFY(a.set("carol", Role::Viewer, "x", &error, 1));
        QCOMPARE(a.accounts().at(2).rounds, Accounts::kMinimumRounds);
    }

    void verify_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right password") << "alice"
                                        << "correct horse" << true;
        QTest::newRow("wrong password") << "alice"
                                        << "correct horsE" << false;
        QTest::newRow("prefix of it") << "alice"
                                      << "correct" << false;
        QTest::newRow("empty password") << "alice"
                                        << "" << false;
        QTest::newRow("unknown name") << "mallory"
                                      << "correct horse" << false;
        QTest::newRow("name in other case") << "Alice"
                                            << "correct horse" << false;
    }
    void verify()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        Accounts a;
        QString error;
        QVERIFY(a.set("alice", Role::Admin, "correct horse", &error, kFewRounds));
        const auto found = a.verify(name, password);
        QCOMPARE(found.has_value(), accepted);
        if (accepted)
            QCOMPARE(found->role, Role::Admin);
    }

    void fileKeepsAccountsAndForeignLines()
    {
        writeFile(path(), "# written by hand\n"
                          "ghost:admin:md5:1:AAAA:BBBB\n");
        Accounts a;
        QString error;
        QVERIFY(a.load(path(), &error));
        QVERIFY(a.isEmpty());
        QVERIFY(a.set("alice", Role::Admin, "pw", &error, kFewRounds));
        QVERIFY(a.set("vic", Role::Viewer, "view", &error, kFewRounds));
        QVERIFY(a.set("alice", Role::Viewer, "new pw", &error, kFewRounds));  // replaced, not added
        QVERIFY(a.save(path(), &error));
        // Nobody but its owner reads the keys.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(path()) & others, QFile::Permissions());
        QVERIFY(QFile::permissions(path()).testFlags(QFile::ReadOwner | QFile::WriteOwner));

        const QList<QByteArray> lines = readFile(path()).split('\n');
        QCOMPARE(lines.size(), 5);  // two accounts, two kept lines, the last line's end
        QVERIFY(lines.at(0).startsWith("alice:viewer:pbkdf2-sha256:1000:"));
        QVERIFY(lines.at(1).startsWith("vic:viewer:pbkdf2-sha256:1000:"));
        QCOMPARE(lines.at(2), QByteArray("# written by hand"));
        QCOMPARE(lines.at(3), QByteArray("ghost:admin:md5:1:AAAA:BBBB"));
        // No password in the clear.
        QVERIFY(!readFile(path()).contains("new pw"));

        Accounts back;
        QVERIFY(back.load(path(), &error));
        QCOMPARE(back.accounts().size(), 2);
        QVERIFY(!back.verify("alice", "pw"));
        QCOMPARE(back.verify("alice", "new pw")->role, Role::Viewer);
        QCOMPARE(back.verify("vic", "view")->role, Role::Viewer);
        QVERIFY(!back.verify("ghost", ""));
    }

    void damagedLinesAreNoAccount_data()
    {
        QTest::addColumn<QByteArray>("line");
        const QByteArray salt = QByteArray(16, 's').toBase64();
        const QByteArray key = Accounts::derive("pw", QByteArray(16, 's'), 1).toBase64();
        QTest::newRow("unknown role") << "eve:root:pbkdf2-sha256:1:" + salt + ":" + key;
        QTest::newRow("rounds not a number") << "eve:admin:pbkdf2-sha256:x:" + salt + ":" + key;
        QTest::newRow("zero rounds") << "eve:admin:pbkdf2-sha256:0:" + salt + ":" + key;
        QTest::newRow("short key") << "eve:admin:pbkdf2-sha256:1:" + salt + ":" + key.left(8);
        QTest::newRow("bad base64") << "eve:admin:pbkdf2-sha256:1:" + salt + ":%%%%";
        QTest::newRow("bad name") << "e ve:admin:pbkdf2-sha256:1:" + salt + ":" + key;
        QTest::newRow("field missing") << "eve:admin:pbkdf2-sha256:1:" + salt;
    }
    void damagedLinesAreNoAccount()
    {
        QFETCH(QByteArray, line);
        const QByteArray salt = QByteArray(16, 's').toBase64();
        const QByteArray key = Accounts::derive("pw", QByteArray(16, 's'), 1).toBase64();
        // The good line shows the fixture itself parses.
        writeFile(path(), "ok:admin:pbkdf2-sha256:1:" + salt + ":" + key + "\n" + line + "\n");
        Accounts a;
        QVERIFY(a.load(path()));
        QCOMPARE(a.accounts().size(), 1);
        QVERIFY(a.verify("ok", "pw"));
        QVERIFY(!a.verify("eve", "pw"));
    }

    void webUserOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("admin") << QStringList{"--web-user", "alice", "--role", "admin"} << QByteArray("s3cret\n") << 0
                               << "admin account alice written";
        QTest::newRow("viewer, no line end") << QStringList{"--web-user", "vic", "--role", "viewer"}
                                             << QByteArray("s3cret") << 0 << "viewer account vic written";
        QTest::newRow("no role") << QStringList{"--web-user", "alice"} << QByteArray("s3cret\n") << 2 << "--role";
        QTest::newRow("unknown role") << QStringList{"--web-user", "alice", "--role", "owner"} << QByteArray("s3cret\n")
                                      << 2 << "--role admin";
        QTest::newRow("role alone") << QStringList{"--role", "admin"} << QByteArray("s3cret\n") << 2 << "--web-user";
        QTest::newRow("bad name") << QStringList{"--web-user", "al ice", "--role", "admin"} << QByteArray("s3cret\n")
                                  << 2 << "account name";
        QTest::newRow("empty password") << QStringList{"--web-user", "alice", "--role", "admin"} << QByteArray("\n")
                                        << 2 << "password is empty";
        QTest::newRow("no input") << QStringList{"--web-user", "alice", "--role", "admin"} << QByteArray() << 2
                                  << "no password";
    }
    void webUserOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, said);
        QString errorText;
        QCOMPARE(runProgram(arguments, input, &errorText), status);
        QVERIFY2(errorText.contains(said), qPrintable(errorText));
        Accounts a;
        QVERIFY(a.load(path()));
        if (status != 0) {
            QVERIFY(!QFile::exists(path()));
            return;
        }
        const auto account = a.verify(arguments.at(1), "s3cret");
        QVERIFY(account);
        QCOMPARE(roleName(account->role), arguments.at(3));
        QCOMPARE(account->rounds, Accounts::kDefaultRounds);
    }
};

QTEST_GUILESS_MAIN(TestWebAccounts)
#include "test_webaccounts.moc"
