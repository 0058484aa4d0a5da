#pragma once
// The operator's side of the monitor when it runs without a window: every
// message box text, alert and status goes to standard error as one line after
// the local time in ISO form, and questions take the answer the command line
// gave, or their safe answer, No, saying which.

#include "SkelvarRcon/session/uistate.h"

#include <QString>

#include <cstdio>

namespace skelvar::rcon {

class ConsoleLines {
public:
    explicit ConsoleLines(std::FILE* stream = stderr) : m_stream(stream) {}
    // One line: the local time, a blank, the text with its line breaks and
    // control bytes made blanks, so a player's name cannot start a line.
    void line(const QString& text) const;

private:
    std::FILE* m_stream;
};

class HeadlessPrompter : public Prompter {
public:
    // force: the answer to "Already Monitored!" is Yes.
    HeadlessPrompter(const ConsoleLines& console, bool force) : m_console(console), m_force(force) {}

    bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) override;
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    const ConsoleLines& m_console;
    bool m_force;
};

}  // namespace skelvar::rcon
