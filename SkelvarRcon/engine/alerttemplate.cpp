#include "SkelvarRcon/engine/alerttemplate.h"

namespace skelvar::rcon {

QString fillTemplate(const QString& templ, const QList<TemplateField>& fields)
{
    QString text = templ;
    for (const auto& [field, value] : fields)
        text.replace(field, value);
    return text;
}

}  // namespace skelvar::rcon
