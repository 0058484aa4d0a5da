#pragma once
// The server script global/skelvar.scr, generated from the builder's switches
// and lists. Plain functions: no files, no widgets.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "SkelvarMod/generator/entries.h"

namespace skelvar::mod {

// The longest value of a row that goes into the script, in characters. The
// engine's script reader stops the whole server on a word longer than its
// 16 kB buffer, and the server sends no message longer than 1 kB.
constexpr qsizetype MaxValueLength = 1000;
// The longest model or additional script name. The game loads no file whose
// path ("models/" or "global/" and the name) has 64 characters or more: the
// exec of a longer script name stops the map with an error, and spawning a
// much longer model crashes the server.
constexpr qsizetype MaxNameLength = 56;

// The script's exact bytes: Latin-1, every line ended by CR LF. Only ticked
// rows take part. Operator text is put on one line: a line break or a NUL
// becomes a blank and a double quote becomes a single quote, so no value can
// end a string early or start a script line of its own; inside a string
// every backslash is doubled. validateInputs refuses the quotes before a
// build, so a validated build never needs that. Every number goes out as the
// script reads it: the interval and the clock times as whole numbers, the
// map-fix numbers without '+' or leading zeros. Map, model and script names
// go out without the blanks around them.
QByteArray GenerateScript(const BuildInputs& inputs);

// Problems of the ticked rows that would give a broken or dead script: a
// double quote in a value, a value longer than MaxValueLength (a model or
// script name longer than MaxNameLength), an hour, minute or interval that
// is not a whole number in range, an empty map, a script name or model that
// is not a plain path, an origin or angle that is not numbers the engine
// holds. One message per problem, naming the list and the row (1-based, as
// the list shows it). Empty when the build may go on.
QStringList validateInputs(const BuildInputs& inputs);

// The map-fix values the editor refuses too: the model (a plain path of
// letters, digits and _ - . /, starting with a letter, digit or _), the
// origin (three numbers) and the angle (a number, each with an optional
// leading '-' or '+' and a whole part of at most 2147483647), the model no
// longer than MaxNameLength and the numbers than MaxValueLength. One
// sentence per problem, without the row.
QStringList mapFixValueProblems(const MapFixEntry& fix);
// "Map fix 2 (dm/mohdm6 Crate on the roof)" for the row at index 1.
QString mapFixRowName(qsizetype index, const MapFixEntry& fix);

// Helpers the editors and tests share.
// "At 07:05" / "07:05" gives 7 and 5; false when either part is not a whole
// number or out of the clock's range.
bool parseClockTime(const QString& text, int* hour, int* minute);

}  // namespace skelvar::mod
