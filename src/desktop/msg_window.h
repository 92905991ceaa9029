// The message database window: every message header as a row, a search,
// and the message editor to create, change, kill and answer messages.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "admin/msg_admin.h"
#include "admin/msg_exchange.h"
#include "desktop/window_look.h"
#include "platform/code_pages.h"

class QLabel;

namespace orn {

class MsgWindow : public QWidget {
  Q_OBJECT
 public:
  // `context` gives the store and the forwarding hook; `opened` the
  // window's own database object.
  MsgWindow(MsgAdminContext context, std::unique_ptr<TOrnDbase> db, const CodePages& cp, QWidget* parent = nullptr);

  // Shows every record anew (other parts of the BBS changed the files).
  void ShowAllM();
  QTableWidget* list() { return list_; }
  // The editor for a new message, or for the record in `row`.
  void OpenEditor(int row, const MsgDB* prefill = nullptr, const QString& text = {});
  void KillRow(int row);
  // The pop-up menu's Hold and Release.
  void HoldRow(int row, bool hold);
  // A reply's text: the original quoted under room for the answer.
  static QString QuotedReply(const QString& text);
  // A record's "HHMM/YYMMDD" as "YYYY-MM-DD HH:MM".
  static QString ReadableDate(const char* stored);
  QLabel* foundLabel() { return found_; }
  // The pop-up menu's exchange-file commands.
  void Export();
  void Import();
  // Imports `file` a step at a time between the event loop's other work
  // (the stations are served meanwhile); the result in a message box.
  void ImportFile(const QString& file);
  bool importing() const { return import_ != nullptr; }
  // The repair has the record files to itself: while this says so, the
  // import waits.
  std::function<bool()> filesBusy;
  // The result instead of the message box, when set (tests).
  std::function<void(const ImportResult&)> onImportDone;
  void Search();
  // The list's colour and the text pane's.
  void SetLook(const WindowLook& look);
  // The text of the message in the current row, under the list.
  QPlainTextEdit* textPane() { return text_; }
  // Whether "&Reply" is offered for the row.
  bool CanReply(int row);
  TOrnDbase& db() { return *db_; }
  // A kill, an edit or an import may change whether mail waits for the sysop.
  std::function<void()> onMailChanged;

 private:
  void ShowText(int row);
  void ImportStep();
  void MailMayHaveChanged() {
    if (onMailChanged) onMailChanged();
  }
  bool Find(long number, MsgDB* m);
  void Show(const std::vector<MsgRow>& rows);
  QString Text(const char* field) const;
  long NumberAt(int row) const;

  MsgAdminContext ctx_;
  std::unique_ptr<TOrnDbase> db_;
  const CodePages& cp_;
  QLabel* found_ = nullptr;
  QTableWidget* list_;
  QPlainTextEdit* text_;
  QColor listColour_;
  QComboBox* how_;
  QLineEdit* what_;
  QString lastExport_, lastImport_;
  std::unique_ptr<ImportJob> import_;
  QTimer importTimer_;
};

}  // namespace orn
