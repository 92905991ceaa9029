// "User Edit": every field of a user record the sysop may set, on three
// pages (the user, forwarding, the ten connect entries). Each control is
// keyed by the field's name in user_fields.h, and a value goes into the
// record through the same checks as ornctl's: a value refused there is
// refused here, and one refusal writes nothing.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>

#include "admin/user_fields.h"
#include "platform/code_pages.h"
#include "store/records.h"

class QFormLayout;
class QLineEdit;
class QTabWidget;

namespace orn {

class UserEditor : public QDialog {
  Q_OBJECT
 public:
  UserEditor(const UserDB& record, std::string bbsDir, const CodePages& cp, QWidget* parent = nullptr);

  // What a control shows for the field, and setting it as the sysop would.
  QString Value(const std::string& field) const;
  void SetValue(const std::string& field, const QString& value);

  // Checks every control the sysop changed and puts the values into a copy
  // of the record. On success `record` and `changes` hold the result and
  // the answer is empty; otherwise it is the reason, naming the field.
  std::string Collect(UserDB* record, UserChanges* changes) const;

  QTabWidget* pages() const { return pages_; }

  // The buttons' work: Update (false keeps the dialog open), KILL.
  std::function<bool(const UserDB& record, const UserChanges& changes)> onUpdate;
  std::function<void()> onKill;

 private:
  struct Control {
    std::function<QString()> get;
    std::function<void(const QString&)> set;
  };
  void Add(const std::string& field, Control control);
  // A line edit for a text field, on the form's page.
  QLineEdit* AddLine(QFormLayout* form, const char* label, const std::string& field);
  QWidget* UserPage();
  QWidget* ForwardingPage();
  QWidget* EntriesPage();
  QString Shown(const std::string& field) const;
  void Update();

  UserDB record_;
  std::string bbsDir_;
  const CodePages& cp_;
  QTabWidget* pages_;
  std::map<std::string, Control> controls_;
  std::map<std::string, QString> original_;  // what each control showed at first
};

}  // namespace orn
