#pragma once
// The system's standard dialogs on Qt: message boxes, the open and save
// dialogs with the program's filters, the about box. Each runs modally over
// the dialog's window and returns the user's answer.
#include <QString>
#include <functional>
#include <string>

#include "framework/window.h"

class QDialog;
class QWidget;

// Called once a box or dialog is on the screen, inside its loop (tests answer there).
using ModalShown = std::function<void(QDialog&)>;

// IDOK or IDCANCEL, as MessageBox answers.
int RunQtMessageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned type,
                    const ModalShown& shown);
// "Binary files(*.bin) |*.bin|All files(*.*)|*.*||" as Qt's filter list.
QString QtFileFilter(const std::string& filter);
bool RunQtFileDialog(QWidget* owner, const FileDialogSpec& spec, FileDialogResult& result, const ModalShown& shown);
void RunQtAboutBox(QWidget* owner, const ModalShown& shown);
