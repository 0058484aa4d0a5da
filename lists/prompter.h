#pragma once
// The one way the three programs tell the operator something or ask him:
// the windows show message boxes, the headless monitor and the command-line
// tools print a line, tests answer from a script.

#include <QString>

namespace skelvar {

class Prompter {
public:
    enum class Icon { Information, Warning, Critical, Question };
    virtual ~Prompter() = default;
    virtual bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) = 0;
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;
};

}  // namespace skelvar
