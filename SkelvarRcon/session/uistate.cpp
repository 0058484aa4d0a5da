#include "SkelvarRcon/session/uistate.h"

#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settings.h"

#include <QSet>

namespace skelvar::rcon {

namespace {

template <typename T>
bool assign(std::optional<T>& slot, const T& v)
{
    if (slot && *slot == v)
        return false;
    slot = v;
    return true;
}

const char* progressName(Progress bar)
{
    return bar == Progress::Scan ? control::scanProgress : control::patrolProgress;
}

} // namespace

const QStringList& UiState::sessionControls()
{
    static const QStringList names{control::startButton,   control::exitButton,    control::stopButton,
                                   control::consoleInput,  control::serverAddress, control::serverPort,
                                   control::rconPassword,  control::scanMinutes,   control::patrolSeconds};
    return names;
}

const QStringList& UiState::passLockedControls()
{
    static const QStringList names{control::startButton, control::exitButton, control::stopButton,
                                   control::consoleInput};
    return names;
}

const QStringList& UiState::playerControls()
{
    static const QStringList names{control::kickPlayerButton, control::banPlayerButton, control::handBanForever,
                                   control::handBanForDays, control::handBanDays};
    return names;
}

bool UiState::isKnown(const QString& name)
{
    static const QSet<QString> shown = [] {
        QSet<QString> s;
        for (const char* n :
             {control::startButton, control::exitButton, control::stopButton, control::consoleInput,
              control::serverStatus, control::lastDataLine, control::serverOs, control::cheatsState,
              control::modSkelvarState, control::zovPlinketState, control::notMonitoredPicture, control::windowsIcon,
              control::linuxIcon, control::cheatsEnabledIcon, control::cheatsDisabledIcon,
              control::modSkelvarStoppedIcon, control::modSkelvarRunningIcon, control::zovPlinketStoppedIcon,
              control::zovPlinketRunningIcon, control::scanProgress, control::patrolProgress,
              control::kickPlayerButton, control::banPlayerButton, control::banAfterKicksLabel,
              control::reservedSkinsEditLabel})
            s.insert(QString::fromLatin1(n));
        for (const ListButtonDef& b : listButtons())
            s.insert(QString::fromLatin1(b.name));
        return s;
    }();
    return shown.contains(name) || Settings::indexOf(name) >= 0;
}

// ---- Engine status ----------------------------------------------------------

void UiState::setServerStatus(const QString& text)
{
    setText(control::serverStatus, text);
}

QString UiState::serverStatus() const
{
    return text(control::serverStatus);
}

void UiState::setStartCaption(StartCaption caption)
{
    switch (caption) {
    case StartCaption::Start: setText(control::startButton, QStringLiteral("Start")); return;
    case StartCaption::Warming: setText(control::startButton, QStringLiteral("Warming")); return;
    case StartCaption::Scanning: setText(control::startButton, QStringLiteral("Scanning")); return;
    }
}

void UiState::setLastDataAge(std::optional<int> seconds)
{
    setText(control::lastDataLine,
            seconds ? QStringLiteral("Last Data Retrieval: %1 seconds ago").arg(*seconds) : QString());
}

void UiState::setServerOs(ServerOs os)
{
    switch (os) {
    case ServerOs::Unknown: setText(control::serverOs, QStringLiteral("Server OS: ?")); break;
    case ServerOs::Linux: setText(control::serverOs, QStringLiteral("Server OS: Linux")); break;
    case ServerOs::Windows: setText(control::serverOs, QStringLiteral("Server OS: Windows")); break;
    }
    setVisible(control::windowsIcon, os == ServerOs::Windows);
    setVisible(control::linuxIcon, os == ServerOs::Linux);
}

void UiState::setCheatsState(CheatsState state)
{
    switch (state) {
    case CheatsState::Unknown: setText(control::cheatsState, QStringLiteral("Cheats: ?")); break;
    case CheatsState::Enabled: setText(control::cheatsState, QStringLiteral("Cheats - Enabled!!")); break;
    case CheatsState::Disabled: setText(control::cheatsState, QStringLiteral("Cheats - Disabled")); break;
    }
    setVisible(control::cheatsEnabledIcon, state == CheatsState::Enabled);
    setVisible(control::cheatsDisabledIcon, state == CheatsState::Disabled);
}

void UiState::setModState(ServerMod mod, ModState state)
{
    const bool skelvar = mod == ServerMod::ModSkelvar;
    const QString title = skelvar ? QStringLiteral("ModSkelvar") : QStringLiteral("Zov Plinket");
    QString caption;
    switch (state) {
    case ModState::Unknown: caption = title + QStringLiteral(": ?"); break;
    case ModState::Running: caption = title + QStringLiteral(" - Running"); break;
    case ModState::NotRunning: caption = title + QStringLiteral(" - Not Running"); break;
    }
    setVisible(skelvar ? control::modSkelvarStoppedIcon : control::zovPlinketStoppedIcon,
               state == ModState::NotRunning);
    setVisible(skelvar ? control::modSkelvarRunningIcon : control::zovPlinketRunningIcon, state == ModState::Running);
    setText(skelvar ? control::modSkelvarState : control::zovPlinketState, caption);
}

void UiState::setNotMonitoredShown(bool shown)
{
    setVisible(control::notMonitoredPicture, shown);
}

void UiState::setProgress(Progress bar, int value)
{
    setValue(progressName(bar), value);
}

void UiState::setProgressMaximum(Progress bar, int maximum)
{
    setMaximum(progressName(bar), maximum);
}

void UiState::advanceProgress(Progress bar)
{
    if (progressMaximum(bar) > progress(bar))
        setProgress(bar, progress(bar) + 1);
}

void UiState::resetProgress()
{
    setProgress(Progress::Patrol, 0);
    setProgress(Progress::Scan, 0);
}

int UiState::progress(Progress bar) const
{
    return value(progressName(bar));
}

int UiState::progressMaximum(Progress bar) const
{
    return maximum(progressName(bar));
}

// ---- Session and exit -------------------------------------------------------

void UiState::setPassLocked(bool locked)
{
    setEnabled(passLockedControls(), !locked);
}

void UiState::setSessionControlsEnabled(bool on)
{
    setEnabled(sessionControls(), on);
}

void UiState::showDisconnecting()
{
    setText(control::exitButton, QStringLiteral("Disconnecting..."));
    setEnabled(QStringList{control::startButton, control::stopButton, control::consoleInput}, false);
}

// ---- Row controls and companions ------------------------------------------------

void UiState::setPlayerControlsVisible(bool visible)
{
    setVisible(playerControls(), visible);
}

void UiState::setListButtonVisible(ListButton button, bool visible)
{
    setVisible(listButton(button).name, visible);
}

void UiState::setListButtonsVisible(lists::ListKind list, bool visible)
{
    for (const ListButtonDef& b : listButtons()) {
        if (b.list == list)
            setVisible(b.name, visible);
    }
}

void UiState::setPrivateClientControlsEnabled(bool on)
{
    setEnabled(QStringList{control::privateSlotAlert, control::publicSlotAlert}, on);
}

void UiState::setReservedSkinControlsEnabled(bool on)
{
    setEnabled(QStringList{control::banAfterKicksLabel, control::reservedSkinsEditLabel, control::reservedSkinAlert},
               on);
}

void UiState::setPingKickNoticeEnabled(bool on)
{
    setEnabled(control::pingKickNotice, on);
}

void UiState::setConnectionAlertEnabled(bool on)
{
    setEnabled(control::connectionAlert, on);
}

void UiState::setSilentEnabled(bool on)
{
    setEnabled(control::silent, on);
}

// ---- By name ------------------------------------------------------------------

UiState::Control* UiState::slot(const QString& name, const char* where)
{
    if (isKnown(name))
        return &m_controls[name];
    qWarning("UiState::%s: no control %s", where, qPrintable(name));
    Q_ASSERT_X(false, where, "unknown control name");
    return nullptr;
}

const UiState::Control* UiState::find(const QString& name, const char* where) const
{
    const auto it = m_controls.constFind(name);
    if (it != m_controls.cend())
        return &*it;
    if (!isKnown(name)) {
        qWarning("UiState::%s: no control %s", where, qPrintable(name));
        Q_ASSERT_X(false, where, "unknown control name");
    }
    return nullptr;
}

void UiState::setEnabled(const QString& name, bool on)
{
    if (Control* c = slot(name, "setEnabled"); c && assign(c->enabled, on))
        emit changed(name);
}

void UiState::setEnabled(const QStringList& names, bool on)
{
    for (const QString& n : names)
        setEnabled(n, on);
}

void UiState::setVisible(const QString& name, bool on)
{
    if (Control* c = slot(name, "setVisible"); c && assign(c->visible, on))
        emit changed(name);
}

void UiState::setVisible(const QStringList& names, bool on)
{
    for (const QString& n : names)
        setVisible(n, on);
}

void UiState::setText(const QString& name, const QString& text)
{
    Control* c = slot(name, "setText");
    if (!c || !assign(c->text, text))
        return;
    emit changed(name);
    if (name == QLatin1String(control::serverStatus))
        emit serverStatusChanged(text);
}

void UiState::setValue(const QString& name, int value)
{
    if (Control* c = slot(name, "setValue"); c && assign(c->value, value))
        emit changed(name);
}

void UiState::setMaximum(const QString& name, int maximum)
{
    if (Control* c = slot(name, "setMaximum"); c && assign(c->maximum, maximum))
        emit changed(name);
}

bool UiState::isEnabled(const QString& name, bool fallback) const
{
    const Control* c = find(name, "isEnabled");
    return c ? c->enabled.value_or(fallback) : fallback;
}

bool UiState::isVisible(const QString& name, bool fallback) const
{
    const Control* c = find(name, "isVisible");
    return c ? c->visible.value_or(fallback) : fallback;
}

QString UiState::text(const QString& name, const QString& fallback) const
{
    const Control* c = find(name, "text");
    return c ? c->text.value_or(fallback) : fallback;
}

int UiState::value(const QString& name, int fallback) const
{
    const Control* c = find(name, "value");
    return c ? c->value.value_or(fallback) : fallback;
}

int UiState::maximum(const QString& name, int fallback) const
{
    const Control* c = find(name, "maximum");
    return c ? c->maximum.value_or(fallback) : fallback;
}

} // namespace skelvar::rcon
