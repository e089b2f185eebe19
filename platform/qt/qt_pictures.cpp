#include "platform/qt/qt_pictures.h"

#include <QImage>
#include <map>

#include "resources/resource.h"

// The pictures are built into a static library: its resources are
// registered by hand, once, before the first look.
static void RegisterPictures() { Q_INIT_RESOURCE(qt_pictures); }

namespace {

void EnsurePictures()
{
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
}

const char* FileOf(int resource)
{
    switch (resource) {
    case IDB_SKIN: return ":/vane/skin.bmp";
    case IDB_EXIT: return ":/vane/exit.bmp";
    case IDB_EXECUTE: return ":/vane/execute.bmp";
    default: return nullptr;
    }
}

} // namespace

const QPixmap& PictureOf(int bitmapResource)
{
    // Loaded once on the window's thread (pixmaps live there only).
    EnsurePictures();
    static std::map<int, QPixmap> loaded;
    auto it = loaded.find(bitmapResource);
    if (it != loaded.end()) return it->second;
    QPixmap picture;
    if (const char* file = FileOf(bitmapResource)) {
        // The bitmaps' fourth byte is padding, not transparency.
        QImage image(QString::fromLatin1(file));
        if (!image.isNull()) picture = QPixmap::fromImage(image.convertToFormat(QImage::Format_RGB32));
    }
    return loaded.emplace(bitmapResource, picture).first->second;
}

QIcon IconOf(int iconResource)
{
    EnsurePictures();
    if (iconResource != IDR_MAINFRAME) return {};
    return QIcon(QStringLiteral(":/vane/rodediz.ico"));
}
