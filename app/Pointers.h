#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>

namespace gq {

// A Windows cursor (.cur) or icon (.ico) file as a pointer: the first image of the file, with the
// hot spot that a cursor file records (an icon's is its centre). Throws gq::Error when the file
// holds no readable image.
QCursor LoadPointerFile(const QString& path);

// The program's icon: the images that are installed for the desktop (desktop/icons).
QIcon ApplicationIcon();

} // namespace gq
