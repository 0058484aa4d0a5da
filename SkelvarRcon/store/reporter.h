#pragma once

#include <QString>
#include <functional>

namespace skelvar::rcon {

// How a store tells the operator about a file problem: the window shows a
// message box with this title and text.
using Reporter = std::function<void(const QString& title, const QString& text)>;

} // namespace skelvar::rcon
