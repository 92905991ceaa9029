// A plain editor for the BBS's own text files (language, help, beacon
// texts), for a desktop without a program to open them: the file's bytes in
// the stored code page, shown and saved through the same conversion.
#pragma once

#include <QDialog>
#include <QString>

#include "platform/code_pages.h"

class QPlainTextEdit;

namespace orn {

class TextFileEditor : public QDialog {
  Q_OBJECT

 public:
  TextFileEditor(const QString& path, const CodePages& codePages, QWidget* parent = nullptr);

  QPlainTextEdit* text() const { return text_; }
  // Writes the text back, with the file's CR LF line ends; false, and a box
  // naming the file, when it cannot be written.
  bool Save();

 private:
  QString path_;
  const CodePages& cp_;
  QPlainTextEdit* text_;
};

}  // namespace orn
