#include "platform/fonts.h"

#include <QFontDatabase>

namespace qelm {

QStringList SkinFontFamilies(const QString& face)
{
    static const struct {
        const char* windows;
        const char* metricTwin;
    } kTwins[] = {
        {"Arial", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& t : kTwins) {
        if (face.compare(QLatin1String(t.windows), Qt::CaseInsensitive) != 0)
            continue;
        const QString twin = QString::fromLatin1(t.metricTwin);
        if (QFontDatabase::hasFamily(twin))
            return {twin, face};
        break;
    }
    return {face};
}

void SetSkinFontFace(QFont& f, const QString& face)
{
    f.setFamilies(SkinFontFamilies(face));
}

} // namespace qelm
