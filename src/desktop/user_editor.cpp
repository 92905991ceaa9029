#include "desktop/user_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "admin/user_admin.h"
#include "platform/text.h"

namespace orn {
namespace {

const char* const kTypes[] = {"U-nrgstrd", "R-egular", "S-ysop", "B-bs", "X-pert", "L-ocal", "E-xcluded", "K-illed"};
const char* const kFwdKinds[] = {"D-normal", "E-reverse", "F-receive only", "C-per connect entry"};
// A connect entry's choices; the empty one is an entry not in use.
const char* const kEntryKinds[] = {"", "N-normal", "F-reverse", "R-revonly", "E-xport"};
const char* const kEntryFlags[] = {"", "N-none", "C-continue"};

struct Column {
  const char* part;
  const char* title;
};
const Column kColumns[] = {{"hours", "Hours"},   {"mlength", "Size (kB)"},   {"daysago", "Days"},
                           {"port", "Port"},     {"send", "Connect script"}, {"rcv", "Answers"},
                           {"fwdkind", "Kind"},  {"expfile", "Export file"}, {"flag", "Flag"}};
constexpr int kColumnCount = 9;

std::string EntryField(int entry, const char* part) {
  return "Hcon[" + std::to_string(entry) + "]." + part;
}

// A choice's value is the letter before its "-"; a value no choice has
// (an old record's) is shown as it is, so that it stays unless changed.
template <size_t N>
QComboBox* Choices(QWidget* parent, const char* const (&items)[N]) {
  auto* box = new QComboBox(parent);
  for (const char* item : items) box->addItem(item);
  return box;
}
QString Chosen(const QComboBox* box) {
  const QString text = box->currentText();
  const int dash = text.indexOf('-');
  return dash == 1 ? text.left(1) : text;
}
void Choose(QComboBox* box, const QString& value) {
  for (int i = 0; i < box->count(); ++i) {
    const QString item = box->itemText(i);
    if ((value.isEmpty() && item.isEmpty()) || (!value.isEmpty() && item.startsWith(value + "-"))) {
      box->setCurrentIndex(i);
      return;
    }
  }
  box->addItem(value);
  box->setCurrentIndex(box->count() - 1);
}

}  // namespace

UserEditor::UserEditor(const UserDB& record, std::string bbsDir, const CodePages& cp, QWidget* parent)
    : QDialog(parent), record_(record), bbsDir_(std::move(bbsDir)), cp_(cp) {
  setWindowTitle("User Edit");
  setMinimumWidth(860);
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  pages_->addTab(UserPage(), "User");
  pages_->addTab(ForwardingPage(), "Forwarding");
  pages_->addTab(EntriesPage(), "Connect entries");
  layout->addWidget(pages_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* update = buttons->addButton("Update", QDialogButtonBox::AcceptRole);
  QPushButton* kill = buttons->addButton("KILL", QDialogButtonBox::DestructiveRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(update, &QPushButton::clicked, this, &UserEditor::Update);
  connect(kill, &QPushButton::clicked, this, [this] {
    if (onKill) onKill();
    accept();
  });
  for (const auto& [field, control] : controls_) {
    control.set(Shown(field));
    original_[field] = control.get();
  }
}

QString UserEditor::Shown(const std::string& field) const {
  std::string value = GetUserField(record_, field);
  // The rules are stored with CR LF; the editor shows lines.
  if (field == "FwdDest") {
    std::string lines;
    for (char c : value)
      if (c != '\r') lines += c;
    while (!lines.empty() && lines.back() == '\n') lines.pop_back();
    value = lines;
  }
  return QString::fromStdString(cp_.AnsiToUtf8(value));
}

void UserEditor::Add(const std::string& field, Control control) { controls_[field] = std::move(control); }

QLineEdit* UserEditor::AddLine(QFormLayout* form, const char* label, const std::string& field) {
  auto* e = new QLineEdit(form->parentWidget());
  e->setObjectName(QString::fromStdString(field));
  form->addRow(label, e);
  Add(field, {[e] { return e->text(); }, [e](const QString& v) { e->setText(v); }});
  return e;
}

QWidget* UserEditor::UserPage() {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  auto line = [&](const char* label, const std::string& field) { return AddLine(form, label, field); };
  auto number = [&](const char* label, const std::string& field, int max) {
    auto* s = new QSpinBox(page);
    s->setObjectName(QString::fromStdString(field));
    s->setRange(0, max);
    form->addRow(label, s);
    Add(field, {[s] { return QString::number(s->value()); }, [s](const QString& v) { s->setValue(v.toInt()); }});
  };
  auto* call = new QLineEdit(QString::fromStdString(cp_.AnsiToUtf8(FieldText(record_.Call))), page);
  call->setReadOnly(true);
  form->addRow("Call", call);
  line("Name", "Name");
  auto* type = Choices(page, kTypes);
  type->setObjectName("Type");
  form->addRow("Type", type);
  Add("Type", {[type] { return Chosen(type); }, [type](const QString& v) { Choose(type, v); }});
  line("Zip code", "ZipCode");
  line("Home BBS", "HomeBbs");
  line("Hierarchical address", "HierAddress");
  line("Language", "Language");
  number("Max stay (minutes)", "MaxStayMinutes", 100000);
  number("Max download (1000 bytes)", "MaxDownload", 10000000);
  QLineEdit* password = line("Password", "Password");
  auto* generate = new QPushButton("Generate", page);
  form->addRow("", generate);
  auto* ask = new QCheckBox("Ask for the password at login", page);
  form->addRow("", ask);
  Add("PasswordOk", {[ask] { return QString(ask->isChecked() ? "1" : "0"); },
                     [ask](const QString& v) { ask->setChecked(v != "0"); }});
  connect(generate, &QPushButton::clicked, this, [this, password] {
    const std::string pw =
        GeneratePassword(bbsDir_, FieldText(record_.Call), static_cast<uint32_t>(QDateTime::currentSecsSinceEpoch()));
    if (pw.empty()) {
      QMessageBox::warning(this, "Error..", "The password file could not be written.");
    } else {
      password->setText(QString::fromStdString(pw));
    }
  });
  return page;
}

QWidget* UserEditor::ForwardingPage() {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  auto yesNo = [&](const char* label, const std::string& field) {
    auto* box = new QCheckBox(label, page);
    box->setObjectName(QString::fromStdString(field));
    form->addRow("", box);
    Add(field, {[box] { return QString(box->isChecked() ? "Y" : "N"); },
                [box](const QString& v) { box->setChecked(v == "Y"); }});
  };
  auto line = [&](const char* label, const std::string& field) { AddLine(form, label, field); };
  yesNo("Forwarding partner", "isFwdStation");
  auto* queue = new QSpinBox(page);
  queue->setObjectName("FwdQueue");
  queue->setRange(0, 50);
  queue->setSpecialValueText("0 - not in the cycle");
  form->addRow("Forwarding number", queue);
  Add("FwdQueue", {[queue] { return QString::number(queue->value()); },
                   [queue](const QString& v) { queue->setValue(v.toInt()); }});
  auto* kind = Choices(page, kFwdKinds);
  kind->setObjectName("FwdKind");
  form->addRow("Forwarding kind", kind);
  Add("FwdKind", {[kind] { return Chosen(kind); }, [kind](const QString& v) { Choose(kind, v); }});
  yesNo("Bulletins with a BID go into circulation at once", "OkWithBids");
  line("Country", "Country");
  line("How to connect", "HowtoConnect");
  line("Favourites", "Favourites");
  auto* rules = new QPlainTextEdit(page);
  rules->setObjectName("FwdDest");
  rules->setTabChangesFocus(true);
  rules->setMinimumHeight(rules->fontMetrics().height() * 6);
  rules->setPlaceholderText("for example:\n@WW\n@EU\n>XX1ABC\n<XX7ZZ");
  form->addRow("Routing rules", rules);
  form->addRow("", new QLabel("One rule a line: @BBS (the message's @ field has it), >CALL (its To),\n"
                              "<CALL (its From). Partners get new messages by these rules at once.",
                              page));
  Add("FwdDest", {[rules] { return rules->toPlainText(); }, [rules](const QString& v) { rules->setPlainText(v); }});
  return page;
}

QWidget* UserEditor::EntriesPage() {
  auto* table = new QTableWidget(kHowtoconnectCount, kColumnCount, this);
  table->setObjectName("Hcon");
  QStringList titles;
  for (const Column& c : kColumns) titles << c.title;
  table->setHorizontalHeaderLabels(titles);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 10);
  for (int row = 0; row < kHowtoconnectCount; ++row) {
    for (int col = 0; col < kColumnCount; ++col) {
      const std::string field = EntryField(row, kColumns[col].part);
      const std::string part = kColumns[col].part;
      if (part == "fwdkind" || part == "flag") {
        QComboBox* box = part == "flag" ? Choices(table, kEntryFlags) : Choices(table, kEntryKinds);
        table->setCellWidget(row, col, box);
        Add(field, {[box] { return Chosen(box); }, [box](const QString& v) { Choose(box, v); }});
        continue;
      }
      auto* item = new QTableWidgetItem;
      table->setItem(row, col, item);
      Add(field, {[item] { return item->text().trimmed(); }, [item](const QString& v) { item->setText(v); }});
    }
  }
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel("The entry whose hours (start and end hour, e.g. 0023) hold the current hour is "
                               "used.\nThe script's steps are separated by \";\": the station to connect, then "
                               "the lines to send; the answers likewise.\nFor example: hours 0023, size <100, "
                               "days 000, port 1, script XX8ORN-1, answers CONNECTED, kind N-normal, flag N-none.",
                               page));
  layout->addWidget(table);
  // Rows are numbered as ornctl names them (Hcon[0] to Hcon[9]).
  QStringList rows;
  for (int row = 0; row < kHowtoconnectCount; ++row) rows << QString::number(row);
  table->setVerticalHeaderLabels(rows);
  // Filled after the values: the columns fit what they show, the scripts
  // with room to grow.
  QMetaObject::invokeMethod(
      table,
      [table] {
        table->resizeColumnsToContents();
        for (int col : {4, 5}) table->setColumnWidth(col, std::max(table->columnWidth(col), 150));
      },
      Qt::QueuedConnection);
  return page;
}

QString UserEditor::Value(const std::string& field) const {
  const auto it = controls_.find(UserFieldName(field));
  return it == controls_.end() ? QString() : it->second.get();
}

void UserEditor::SetValue(const std::string& field, const QString& value) {
  const auto it = controls_.find(UserFieldName(field));
  if (it != controls_.end()) it->second.set(value);
}

std::string UserEditor::Collect(UserDB* record, UserChanges* changes) const {
  UserDB u = record_;
  UserChanges set;
  // In the table's order, so that the reason given is the first field's.
  for (const std::string& field : UserFieldNames()) {
    const auto it = controls_.find(field);
    if (it == controls_.end()) continue;
    const QString now = it->second.get();
    if (now == original_.at(field)) continue;
    const std::string value = cp_.Utf8ToAnsi(now.toStdString());
    const std::string why = SetUserField(u, field, value);
    if (!why.empty()) return cp_.AnsiToUtf8(why);
    set.emplace_back(field, value);
  }
  *record = u;
  *changes = std::move(set);
  return {};
}

void UserEditor::Update() {
  UserDB u{};
  UserChanges changes;
  const std::string why = Collect(&u, &changes);
  if (!why.empty()) {
    QMessageBox::warning(this, "Info", QString::fromStdString(why));
    return;
  }
  if (onUpdate && !onUpdate(u, changes)) return;
  accept();
}

}  // namespace orn
