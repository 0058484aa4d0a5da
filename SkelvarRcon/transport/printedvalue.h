#pragma once
// The value in the console's print of a variable, the one reader for every
// variable the monitor asks for. Servers of the open-source engines add a
// colour code to each printed value ("0^7"), the original ones do not.

#include <QString>

namespace skelvar::rcon {

// Text without Quake colour codes: a '^' followed by an ASCII letter or digit.
QString withoutColourCodes(const QString& text);

// `"name" is:"value^7" default:"0^7"` or `"name" is:"value^7", the default`:
// the text between the second pair of double quotes, colour codes removed.
// Empty when the answer has no such piece (no answer, an unknown variable).
QString printedValue(const QString& answer);

}  // namespace skelvar::rcon
