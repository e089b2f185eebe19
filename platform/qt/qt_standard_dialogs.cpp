#include "platform/qt/qt_standard_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <vector>

#include "framework/messages.h"
#include "platform/qt/qt_pictures.h"
#include "resources/resource.h"

namespace {

constexpr unsigned kButtonsMask = 0x0F;
constexpr unsigned kIconMask = 0xF0;
constexpr unsigned kIconHand = 0x10;      // MB_ICONHAND
constexpr unsigned kIconQuestion = 0x20;  // MB_ICONQUESTION
constexpr unsigned kIconAsterisk = 0x40;  // MB_ICONASTERISK

QString Local(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<int>(text.size())); }

void AnnounceWhenShown(QDialog& dialog, const ModalShown& shown)
{
    if (!shown) return;
    QTimer::singleShot(0, &dialog, [&dialog, shown] { shown(dialog); });
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

} // namespace

int RunQtMessageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned type,
                    const ModalShown& shown)
{
    QMessageBox box(owner);
    box.setWindowTitle(Local(caption));
    box.setText(Local(text));
    switch (type & kIconMask) {
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case kIconHand: box.setIcon(QMessageBox::Critical); break;
    case kIconQuestion: box.setIcon(QMessageBox::Question); break;
    case kIconAsterisk: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    const bool question = (type & kButtonsMask) == MB_OKCANCEL;
    box.setStandardButtons(question ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    // Escape (and the close box) is Cancel; an OK box has no other answer.
    box.setEscapeButton(question ? QMessageBox::Cancel : QMessageBox::Ok);
    AnnounceWhenShown(box, shown);
    const int answer = box.exec();
    return answer == QMessageBox::Ok || !question ? IDOK : IDCANCEL;
}

QString QtFileFilter(const std::string& filter)
{
    // Description and pattern alternate; an empty description ends the list.
    const std::vector<std::string> parts = Split(filter, '|');
    QStringList filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) break;
        QString patterns;
        for (const std::string& pattern : Split(parts[i + 1], ';')) {
            if (pattern.empty()) continue;
            if (!patterns.isEmpty()) patterns += QLatin1Char(' ');
            patterns += pattern == "*.*" ? QStringLiteral("*") : Local(pattern);
        }
        filters << Local(parts[i]).trimmed() + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

bool RunQtFileDialog(QWidget* owner, const FileDialogSpec& spec, FileDialogResult& result, const ModalShown& shown)
{
    QFileDialog dialog(owner, Local(spec.title), Local(spec.initialFolder));
    dialog.setAcceptMode(spec.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((spec.flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if ((spec.flags & OFN_OVERWRITEPROMPT) == 0) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(QtFileFilter(spec.filter));
    if (!spec.defaultExtension.empty()) dialog.setDefaultSuffix(Local(spec.defaultExtension));
    if (!spec.initialName.empty()) dialog.selectFile(Local(spec.initialName));
    AnnounceWhenShown(dialog, shown);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const std::string path = dialog.selectedFiles().front().toLocal8Bit().toStdString();
    // The name buffer holds the path and its terminator, or the dialog fails.
    if (path.size() + 1 > spec.nameBufferSize) return false;
    result.path = path;
    result.name = QFileInfo(dialog.selectedFiles().front()).fileName().toLocal8Bit().toStdString();
    return true;
}

void RunQtAboutBox(QWidget* owner, const ModalShown& shown)
{
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("About RODEdiz"));
    box.setIconPixmap(IconOf(IDR_MAINFRAME).pixmap(32, 32));
    box.setText(QStringLiteral("Vane Upgrade Version 1.0\nFirmware upgrade tool for Mirra Vane transmitters\n"
                               "Made by the Vane Upgrade developers"));
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    AnnounceWhenShown(box, shown);
    box.exec();
}
