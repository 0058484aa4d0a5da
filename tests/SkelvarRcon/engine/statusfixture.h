#pragma once
// Status tables and user-info answers laid out the way the game server prints them.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace skelvar::test {

struct StatusPlayer {
    int num = 0;
    int score = 0;
    QString ping = QStringLiteral("50");
    QString name;
    QString address;  // "a.b.c.d:port" or "loopback"
    int lastMsg = 0;
    int qport = 4711;
    int rate = 25000;
};

// One row with the server's column padding.
inline QString statusRow(const StatusPlayer& p)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
        .arg(p.num, 3)
        .arg(p.score, 5)
        .arg(p.ping, 4)
        .arg(p.name, -15)
        .arg(p.lastMsg, 7)
        .arg(p.address, -21)
        .arg(p.qport, 5)
        .arg(p.rate, 5);
}

// A whole answer as the console sends it (LF line ends, a closing empty line).
inline QByteArray statusAnswer(const QList<StatusPlayer>& players, const QString& map = QStringLiteral("obj/obj_team2"))
{
    QString text = QStringLiteral("map: %1\n").arg(map);
    text += QStringLiteral("num score ping name            lastmsg address               qport rate\n");
    text += QStringLiteral("--- ----- ---- --------------- ------- --------------------- ----- -----\n");
    for (const StatusPlayer& p : players)
        text += statusRow(p) + QLatin1Char('\n');
    text += QLatin1Char('\n');
    return text.toLatin1();
}

// dumpuser's answer: the setting name padded to 21 characters, ": ", the value.
inline QByteArray userinfoAnswer(const QList<std::pair<QString, QString>>& settings)
{
    QString text = QStringLiteral("userinfo\n--------\n");
    for (const auto& [key, value] : settings)
        text += key.leftJustified(21) + QStringLiteral(": ") + value + QLatin1Char('\n');
    return text.toLatin1();
}

// Names that have broken status parsers: blanks, digits, colons, column look-alikes.
inline const QStringList& awkwardNames()
{
    static const QStringList names{
        QStringLiteral("Big Name"),
        QStringLiteral("a:b:c"),
        QStringLiteral("12345"),
        QStringLiteral("7 0 1.2.3.4:5 6"),
        QStringLiteral("^1Red^7Dragon"),
        QStringLiteral("loopback"),
        QStringLiteral("CNCT"),
        QStringLiteral("ZMBI"),
        QStringLiteral("x\";quit;\""),
        QStringLiteral("[MyClan]Joe"),
        QStringLiteral("Mr. 100%"),
        QStringLiteral("-1"),
        QStringLiteral("two  blanks  in"),
        QStringLiteral("::1"),
        QStringLiteral("$IP"),
        QStringLiteral("UnnamedPlayer"),
        QStringLiteral("a b c d e f g h"),
        QString::fromLatin1("\xC4rger \xFC"),
        QStringLiteral("0"),
        QStringLiteral("10.0.0.9:27960"),
    };
    return names;
}

}  // namespace skelvar::test
