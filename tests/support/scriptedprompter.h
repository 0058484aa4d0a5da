#pragma once
// Answers the programs' questions from a script and records every box shown.

#include "lists/prompter.h"

#include <QList>
#include <QString>

#include <deque>

namespace skelvar::test {

class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString title;
        QString text;
        Icon icon;
        bool question;
    };
    std::deque<bool> answers;  // for questions, in order; No when empty
    QList<Shown> shown;

    bool askYesNo(const QString& title, const QString& text, Icon icon, bool) override
    {
        shown.append({title, text, icon, true});
        if (answers.empty())
            return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void message(const QString& title, const QString& text, Icon icon) override
    {
        shown.append({title, text, icon, false});
    }
    QStringList titles() const
    {
        QStringList out;
        for (const Shown& s : shown)
            out << s.title;
        return out;
    }
    // "title|text" of every box shown.
    QStringList boxes() const
    {
        QStringList out;
        for (const Shown& s : shown)
            out << s.title + QLatin1Char('|') + s.text;
        return out;
    }
};

}  // namespace skelvar::test
