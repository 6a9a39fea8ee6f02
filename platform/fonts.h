// Font faces named by the skin (Windows face names), on this system.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace qelm {

// The families to ask for in place of a Windows face name: the installed
// metric-compatible face first ("Arial" -> "Liberation Sans", likewise
// "Times New Roman" and "Courier New"), then the name itself. Which font
// fontconfig substitutes for "Arial" differs between machines; text laid out
// for Arial's widths keeps them only with a face of the same metrics.
QStringList SkinFontFamilies(const QString& face);

// Sets f's families to SkinFontFamilies(face).
void SetSkinFontFace(QFont& f, const QString& face);

} // namespace qelm
