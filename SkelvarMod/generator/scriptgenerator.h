#pragma once
// The server script global/skelvar.scr, generated from the builder's switches
// and lists. Plain functions: no files, no widgets.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "SkelvarMod/generator/entries.h"

namespace skelvar::mod {

// The script's exact bytes: Latin-1, every line ended by CR LF. Only ticked
// rows take part. Operator text is put on one line: a line break becomes a
// blank and a double quote becomes a single quote, so no value can end a
// string early or start a script line of its own; inside a string every
// backslash is doubled. validateInputs refuses the quotes before a build, so
// a validated build never needs that. Map-fix numbers are written without a
// leading '+'.
QByteArray GenerateScript(const BuildInputs& inputs);

// Problems of the ticked rows that would give a broken or dead script: a
// double quote in a value, an hour, minute or interval that is not a whole
// number in range, an empty map, a script name or model that is not a plain
// path, an origin or angle that is not numbers. One message per problem,
// naming the list and the row (1-based, as the list shows it). Empty when
// the build may go on.
QStringList validateInputs(const BuildInputs& inputs);

// The map-fix values the editor refuses too: the model (a plain path of
// letters, digits and _ - . /), the origin (three numbers) and the angle
// (a number, each with an optional leading '-' or '+'). One sentence per
// problem, without the row.
QStringList mapFixValueProblems(const MapFixEntry& fix);
// "Map fix 2 (dm/mohdm6 Crate on the roof)" for the row at index 1.
QString mapFixRowName(qsizetype index, const MapFixEntry& fix);

// Helpers the editors and tests share.
// "At 07:05" / "07:05" gives 7 and 5; false when either part is not a whole
// number or out of the clock's range.
bool parseClockTime(const QString& text, int* hour, int* minute);

}  // namespace skelvar::mod
