#pragma once
// The one way the three programs tell the operator something or ask him:
// the windows show message boxes, the headless monitor and the command-line
// tools print a line, tests answer from a script.

#include <QList>
#include <QString>

namespace skelvar {

class Prompter {
public:
    enum class Icon { Information, Warning, Critical, Question };
    virtual ~Prompter() = default;
    virtual bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) = 0;
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;
};

// A message or question as it was put.
struct Prompted {
    QString title;
    QString text;
};

// Passes everything on to the front end's prompter, except while a request
// from elsewhere (the web page) is being carried out: then what is said
// belongs in that request's answer, and nobody is at the window to answer a
// question, so it takes its default answer.
class PrompterRelay : public Prompter {
public:
    explicit PrompterRelay(Prompter& target) : m_target(target) {}

    bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) override
    {
        if (!m_taken)
            return m_target.askYesNo(title, text, icon, defaultNo);
        m_taken->append({title, text});
        return !defaultNo;
    }
    void message(const QString& title, const QString& text, Icon icon) override
    {
        if (m_taken)
            m_taken->append({title, text});
        else
            m_target.message(title, text, icon);
    }

    // Collects into *into until the Taking ends.
    class Taking {
    public:
        Taking(PrompterRelay& relay, QList<Prompted>* into) : m_relay(relay), m_before(relay.m_taken)
        {
            relay.m_taken = into;
        }
        ~Taking() { m_relay.m_taken = m_before; }
        Taking(const Taking&) = delete;
        Taking& operator=(const Taking&) = delete;

    private:
        PrompterRelay& m_relay;
        QList<Prompted>* m_before;
    };

private:
    Prompter& m_target;
    QList<Prompted>* m_taken = nullptr;
};

}  // namespace skelvar
