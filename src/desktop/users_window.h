// The user database window: every user as a row, a search, and the user
// editor.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <memory>

#include "admin/user_admin.h"
#include "admin/user_fields.h"
#include "desktop/user_editor.h"
#include "desktop/window_look.h"
#include "platform/code_pages.h"

namespace orn {

class UsersWindow : public QWidget {
  Q_OBJECT
 public:
  UsersWindow(std::unique_ptr<TOrnDbase> db, std::string bbsDir, const CodePages& cp, QWidget* parent = nullptr);

  void ShowAllU();
  QTableWidget* list() { return list_; }
  // "User Edit" for the user in `row`, wired to write the record; nullptr
  // when the row or its record is gone. OpenEditor runs it.
  UserEditor* EditorFor(int row);
  void OpenEditor(int row);
  void Search();
  // Sets the user in `row` to type K (the repair removes it).
  void KillRow(int row);
  // "New User..": a record for `call` (as ornctl's user add makes it); its
  // row, or -1 with the reason in *why.
  int AddUser(const QString& call, QString* why);
  void SetLook(const WindowLook& look);

  // A record was written (the editor's Update or KILL, the list's Kill):
  // its position, its call and the fields changed.
  std::function<void(long position, const std::string& call, const UserChanges& changes)> onUserWritten;

 private:
  void Refresh();
  void Show(const std::vector<UserRow>& rows);
  QString Text(const char* field) const;

  std::unique_ptr<TOrnDbase> db_;
  std::string bbsDir_;
  const CodePages& cp_;
  QTableWidget* list_;
  QColor listColour_;
  QComboBox* how_;
  QLineEdit* what_;
};

}  // namespace orn
