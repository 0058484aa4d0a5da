#include "SkelvarRcon/session/uistate.h"

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
}  // namespace

void UiState::setEnabled(const QString& name, bool on)
{
    if (assign(controls_[name].enabled, on))
        emit changed(name);
}

void UiState::setEnabled(const QStringList& names, bool on)
{
    for (const QString& n : names)
        setEnabled(n, on);
}

void UiState::setVisible(const QString& name, bool on)
{
    if (assign(controls_[name].visible, on))
        emit changed(name);
}

void UiState::setVisible(const QStringList& names, bool on)
{
    for (const QString& n : names)
        setVisible(n, on);
}

void UiState::setText(const QString& name, const QString& text)
{
    if (assign(controls_[name].text, text))
        emit changed(name);
}

void UiState::setValue(const QString& name, int value)
{
    if (assign(controls_[name].value, value))
        emit changed(name);
}

void UiState::setMaximum(const QString& name, int maximum)
{
    if (assign(controls_[name].maximum, maximum))
        emit changed(name);
}

bool UiState::isEnabled(const QString& name, bool fallback) const
{
    const auto it = controls_.constFind(name);
    return it == controls_.cend() ? fallback : it->enabled.value_or(fallback);
}

bool UiState::isVisible(const QString& name, bool fallback) const
{
    const auto it = controls_.constFind(name);
    return it == controls_.cend() ? fallback : it->visible.value_or(fallback);
}

QString UiState::text(const QString& name, const QString& fallback) const
{
    const auto it = controls_.constFind(name);
    return it == controls_.cend() ? fallback : it->text.value_or(fallback);
}

int UiState::value(const QString& name, int fallback) const
{
    const auto it = controls_.constFind(name);
    return it == controls_.cend() ? fallback : it->value.value_or(fallback);
}

int UiState::maximum(const QString& name, int fallback) const
{
    const auto it = controls_.constFind(name);
    return it == controls_.cend() ? fallback : it->maximum.value_or(fallback);
}

}  // namespace skelvar::rcon
