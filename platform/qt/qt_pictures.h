#pragma once
// The program's pictures for the Qt window, by resource identifier: the
// same bitmaps and icon the Windows program carries, built into the program.
#include <QIcon>
#include <QPixmap>

// A null pixmap for an identifier that names no picture.
const QPixmap& PictureOf(int bitmapResource);
QIcon IconOf(int iconResource);
