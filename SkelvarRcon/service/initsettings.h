#pragma once
// RconSkelvar --init HOST:PORT: the settings file made on the command line,
// for a first start on a machine without a desktop. The server's address and
// port come from the argument, its rcon password from one line of standard
// input (so it stays out of the process list and the shell's history); every
// other value is the default, or what an existing file already holds.

#include <QString>

namespace skelvar::rcon {

struct ServerAddress {
    QString host;  // a name or an address; an IPv6 address without brackets
    quint16 port = 0;

    // HOST:PORT, with an IPv6 address in brackets.
    QString text() const;
};

// Reads "HOST:PORT" or "[IPv6]:PORT": a host that is not empty and holds no
// blank, control character or character the settings file cannot keep, and a
// port from 1 to 65535. False with *error otherwise.
bool parseServerAddress(const QString& text, ServerAddress* server, QString* error);

// Checks the password read from standard input: not empty, no field separator
// (0x02) or line break, nothing outside Latin-1 (the file's encoding).
bool checkRconPassword(const QString& password, QString* error);

// Reads one line of standard input, without its line ending. On a terminal
// it asks with prompt on standard error and does not echo what is typed.
// False at the end of input before any line.
bool readSecretLine(const QString& prompt, QString* line);

// Writes rconskelvar.ini in folder through Settings: the defaults, or the
// values of the file that is there, with the server's address, port and
// password. The file is replaced as every save replaces it (a write-protected
// file stays as it is). True with *report saying what was written; false
// with *error, and the file untouched.
bool initSettings(const QString& folder, const ServerAddress& server, const QString& password, QString* report,
                  QString* error);

}  // namespace skelvar::rcon
