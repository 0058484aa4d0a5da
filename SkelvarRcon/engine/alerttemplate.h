#pragma once
// The one filler of the operator's alert templates ("$name was kicked ...").

#include <QLatin1String>
#include <QList>
#include <QString>

#include <utility>

namespace skelvar::rcon {

// A template's field ("$name") and the text it stands for.
using TemplateField = std::pair<QLatin1String, QString>;

// Replaces every occurrence of each field, in the order given (exact letter
// case). Text that one field puts in is seen by the fields after it, as the
// templates have always been filled.
QString fillTemplate(const QString& templ, const QList<TemplateField>& fields);

}  // namespace skelvar::rcon
