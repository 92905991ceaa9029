#include "desktop/text_file_editor.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/file_names.h"

namespace orn {

TextFileEditor::TextFileEditor(const QString& path, const CodePages& codePages, QWidget* parent)
    : QDialog(parent), path_(path), cp_(codePages), text_(new QPlainTextEdit(this)) {
  setWindowTitle("EditText - " + path);
  text_->setObjectName("textFile");
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  std::string bytes;
  ReadWholeFile(path.toStdString(), &bytes);
  std::string lines;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) lines += bytes[i];
  text_->setPlainText(QString::fromStdString(cp_.AnsiToUtf8(lines)));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Save()) accept();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addWidget(buttons);
  resize(720, 560);
}

bool TextFileEditor::Save() {
  const std::string lines = cp_.Utf8ToAnsi(text_->toPlainText().toStdString());
  std::string bytes;
  for (char c : lines) bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
  if (WriteFileReplacing(path_.toStdString(), bytes)) return true;
  QMessageBox::warning(this, "EditText", "Cannot write " + path_ + ".");
  return false;
}

}  // namespace orn
