#pragma once
// A small build fixture and the exact script it must give, shared by the
// generator, build and window tests.
#include <QByteArray>
#include <QByteArrayList>

#include "SkelvarMod/generator/entries.h"

namespace modtest {

using namespace skelvar::mod;

// Two messages, one scheduled command, one map fix, one additional script,
// "White Walls" and "Show time on ping screen" ticked.
inline BuildInputs smallFixture()
{
    BuildInputs in;
    in.switches.whiteWalls = 1;
    in.switches.serverTime = 1;
    in.messages = {{"Periodic", "10 minutes", "Low", "Welcome", true},
                   {"Scheduled", "At 07:05", "High", "Restart soon", true}};
    in.commands = {{"12:30", "map dm/mohdm6", true}};
    MapFixEntry fix;
    fix.map = "dm/mohdm6";
    fix.author = "Op";
    fix.description = "Crate on the roof";
    fix.model = "static/crate.tik";
    fix.origin = "100 -200 32";
    fix.angle = "90";
    fix.visibility = "hide";
    fix.filename = "dmmohdm6.dmf";
    fix.ticked = true;
    in.mapFixes = {fix};
    in.compat = {{"Team balance", "teambalance.scr", true}, {"Map vote", "mapvote.scr", false}};
    return in;
}

// The script's lines without their CR LF.
inline QByteArrayList scriptLines(const QByteArray& script)
{
    QByteArrayList lines = script.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& l : lines)
        l.chop(1);  // the CR
    return lines;
}

inline QByteArray crlf(const char* text)
{
    return QByteArray(text).replace("\n", "\r\n");
}

inline QByteArray smallFixtureScript()
{
    return crlf(R"(main:
level.v0 = int (getcvar (scantime))
level.v1 = int (getcvar (sv_minutes))
level.v2 = int(getcvar (sv_hours))
level.v3 = int (getcvar (sv_seconds))
if (level.v0 == 0)
{
level.v0 = 3
setcvar "scantime" 3
}
level.v4 = int(getcvar (mensa1))
if ( getcvar (resetvalue) == "")
{
setcvar "resetvalue" 0
}
if ( getcvar (sv_skelvar) == "")
{
setcvar "sv_skelvar" 0
}
exec global/teambalance.scr
if (level.v5 != 1)
{
level waittill spawn
thread t1
end
}
end
t1:
if (level.v5 != 1)
{
level.v5 = 1
}
else
end
setcvar "versionskelvar" "2.1"
thread t2
thread t3
thread t4
thread t5
end
t2:
wait 1
level.v3 = level.v3 + 1
if (getcvar(nombre) != "")
thread t7
if (level.v3 > 59)
{
level.m1 = getcvar (resetvalue)
level.v0 = level.v0 - 1
if ( int ( getcvar (scanpass) ) == 1 )
{
level.v0 = int ( getcvar(scantime) ) - 1
setcvar "scanpass" 2
}
if (level.v0 == 0)
{
if ( int(getcvar(sv_skelvar)) != 0 )
{
if ($player != NULL)
{
$player stufftext ("set snaps 19")
$player stufftext ("setu r_lightmap " + level.m1)
$player stufftext ("setu version " + level.m1)
waitframe
$player stufftext ("set snaps 20")
}
}
level.v0 = int ( getcvar(scantime) )
}
level.v3 = 0
level.v1 = int (getcvar (sv_minutes)) + 1
level.v2 = int(getcvar (sv_hours))
if (level.v1 > 59)
{
level.v1 = 0
level.v2 = int(getcvar (sv_hours)) + 1
if (level.v2 > 23)
level.v2 = 0
}
setcvar "sv_minutes" level.v1
setcvar "sv_hours" level.v2
if ((level.v2 == 7) && (level.v1 == 5))
{
waitframe
locprint 15 200 "Restart soon"
}
if ((level.v2 == 12) && (level.v1 == 30))
{
waitframe
thread t6 "map dm/mohdm6"
}
level.v4 = level.v4 + 1
if (level.v4 == 10)
{
waitframe
iprintln_noloc "Welcome"
level.v4 = 0
}
setcvar "mensa1" level.v4
}
setcvar "sv_seconds" level.v3
goto t2
end
t3:
end
t4:
if (getcvar(mapname) == "dm/mohdm6")
{
local.v0 = spawn static/crate.tik
local.v0.origin = ( 100 -200 32 )
local.v0.angle = 90
local.v0 solid
local.v0 immune bullet
local.v0 immune fast_bullet
local.v0 immune bash
local.v0 immune explosion
local.v0 hide
}
end
t5:
wait 15
waitframe
local.v1 = ""
local.v2 = ""
if (level.v1 < 10)
local.v1 = "0"
if (level.v2 < 10)
local.v2 = "0"
level.zov_order16 = "Server Time: " + local.v2 + level.v2 + ":" + local.v1 + level.v1
goto t5
end
t6 local.v1:
if ((getcvar(version) == "Medal of Honor Allied Assault 1.11 linux-i386 Jul 23 2002") || (getcvar(com_target_game) != ""))
stuffcmd (local.v1)
end
t7:
local.numero = int ( getcvar(numero) )
local.nombre = getcvar(nombre)
if ($player != NULL)
{
level.maxplayers = Int(getcvar(sv_maxclients))
for (local.p=1;local.p<=level.maxplayers;local.p++)
{
if (($player.size>=local.p) && ($player[local.p]!=NULL))
{
local.player = $player[local.p]
if (local.player.entnum == local.numero)
local.player stufftext ("name " + local.nombre)
}
}
}
setcvar "numero" ""
setcvar "nombre" ""
setcvar "scantime" "1"
level.v0 = 1
end
)");
}

}  // namespace modtest
