#pragma once
// The windows' side of the one operator interface: every question and
// message is a modal message box over the window that owns it.

#include "lists/prompter.h"

class QWidget;

namespace skelvar {

class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent) : m_parent(parent) {}
    bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) override;
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    QWidget* m_parent;
};

}  // namespace skelvar
