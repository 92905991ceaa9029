#include "desktop/users_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/text.h"
#include "store/callsign.h"

namespace orn {
namespace {

const char* const kSearches[] = {"by position", "by callsign", "by name", "by type", "forwarding partners"};

}  // namespace

UsersWindow::UsersWindow(std::unique_ptr<TOrnDbase> db, std::string bbsDir, const CodePages& cp, QWidget* parent)
    : QWidget(parent), db_(std::move(db)), bbsDir_(std::move(bbsDir)), cp_(cp) {
  setWindowTitle("Users Data Base");
  auto* layout = new QVBoxLayout(this);
  list_ = new QTableWidget(0, 5, this);
  list_->setHorizontalHeaderLabels({"#", "Call", "Name", "Type", "Fwd"});
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setWordWrap(false);
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int r = list_->rowAt(at.y());
    QMenu menu(this);
    QAction* edit = menu.addAction("&Edit");
    QAction* kill = menu.addAction("&Kill");
    QAction* all = menu.addAction("&List All");
    edit->setEnabled(r >= 0);
    kill->setEnabled(r >= 0);
    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (chosen == edit) {
      OpenEditor(r);
    } else if (chosen == kill) {
      const QTableWidgetItem* call = list_->item(r, 1);
      if (call && QMessageBox::question(this, "Warning!!!", "Kill the user " + call->text() + "?") == QMessageBox::Yes)
        KillRow(r);
    } else if (chosen == all) {
      ShowAllU();
    }
  });
  layout->addWidget(list_, 1);
  auto* row = new QHBoxLayout;
  how_ = new QComboBox(this);
  for (const char* s : kSearches) how_->addItem(s);
  how_->setCurrentIndex(1);
  what_ = new QLineEdit(this);
  auto* search = new QPushButton("Search for User..", this);
  auto* edit = new QPushButton("Edit a User..", this);
  auto* all = new QPushButton("List All", this);
  auto* add = new QPushButton("New User..", this);
  row->addWidget(how_);
  row->addWidget(what_, 1);
  row->addWidget(search);
  row->addWidget(edit);
  row->addWidget(all);
  row->addWidget(add);
  layout->addLayout(row);
  connect(add, &QPushButton::clicked, this, [this] {
    bool ok = false;
    const QString call = QInputDialog::getText(this, "New User", "Callsign:", QLineEdit::Normal, QString(), &ok);
    if (!ok || call.trimmed().isEmpty()) return;
    QString why;
    const int r = AddUser(call, &why);
    if (r < 0) {
      QMessageBox::information(this, "New User", why);
      return;
    }
    OpenEditor(r);
  });
  connect(search, &QPushButton::clicked, this, &UsersWindow::Search);
  connect(what_, &QLineEdit::returnPressed, this, &UsersWindow::Search);
  connect(edit, &QPushButton::clicked, this, [this] { OpenEditor(list_->currentRow()); });
  connect(all, &QPushButton::clicked, this, &UsersWindow::ShowAllU);
  connect(list_, &QTableWidget::cellDoubleClicked, this, [this](int r, int) { OpenEditor(r); });
  ShowAllU();
}

QString UsersWindow::Text(const char* field) const { return QString::fromStdString(cp_.AnsiToUtf8(field)); }

void UsersWindow::Show(const std::vector<UserRow>& rows) {
  list_->setRowCount(static_cast<int>(rows.size()));
  int r = 0;
  for (const UserRow& u : rows) {
    const QString cells[] = {QString::number(u.position), Text(u.index.Call), Text(u.index.Name), Text(u.index.Type),
                             Text(u.index.isFwdStation)};
    for (int c = 0; c < 5; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (listColour_.isValid()) item->setForeground(listColour_);
      list_->setItem(r, c, item);
    }
    ++r;
  }
  list_->resizeColumnsToContents();
  // A little air, so that no call is cut at the column's edge.
  for (int c = 0; c + 1 < list_->columnCount(); ++c) list_->setColumnWidth(c, list_->columnWidth(c) + 10);
}

void UsersWindow::SetLook(const WindowLook& look) {
  listColour_ = look.userList;
  list_->setFont(look.font);
  list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(look.font).height() + 6);
  for (int r = 0; r < list_->rowCount(); ++r)
    for (int c = 0; c < list_->columnCount(); ++c)
      if (QTableWidgetItem* item = list_->item(r, c)) item->setForeground(listColour_);
  list_->resizeColumnsToContents();
}

void UsersWindow::KillRow(int row) {
  const QTableWidgetItem* item = row >= 0 ? list_->item(row, 0) : nullptr;
  if (!item) return;
  const long position = item->text().toLong();
  const QTableWidgetItem* call = list_->item(row, 1);
  if (!KillUser(*db_, position)) {
    QMessageBox::warning(this, "Error..", "The user could not be stored.");
    return;
  }
  if (onUserWritten) onUserWritten(position, cp_.Utf8ToAnsi(call ? call->text().toStdString() : ""), {{"Type", "K"}});
  Refresh();
}

int UsersWindow::AddUser(const QString& typed, QString* why) {
  const std::string call = UpperAscii(Trim(cp_.Utf8ToAnsi(typed.toStdString())));
  const std::string key = call.substr(0, call.find('-'));
  if (!CallIsValid(key)) {
    *why = "Not a callsign: " + typed;
    return -1;
  }
  if (db_->FindUser(key)) {
    *why = QString::fromStdString(key) + " is already a user.";
    return -1;
  }
  const long position = db_->AppendUser(key);
  if (!position) {
    *why = "The user could not be stored.";
    return -1;
  }
  if (onUserWritten) onUserWritten(0, key, {});
  what_->clear();
  ShowAllU();
  for (int r = 0; r < list_->rowCount(); ++r)
    if (list_->item(r, 0)->text().toLong() == position) {
      list_->setCurrentCell(r, 0);
      return r;
    }
  return -1;
}

void UsersWindow::Refresh() {
  if (what_->text().isEmpty()) {
    ShowAllU();
  } else {
    Search();
  }
}

void UsersWindow::ShowAllU() {
  // The files may have been replaced (a database repair) since they were opened.
  db_->CloseAll();
  db_->OpenUserFile();
  db_->OpenMsgFile();
  Show(AllUsers(*db_));
}

void UsersWindow::Search() {
  std::string text = cp_.Utf8ToAnsi(what_->text().toStdString());
  const auto how = static_cast<UserSearch>(how_->currentIndex());
  if (how != UserSearch::kName) text = UpperAscii(Trim(text));
  if (how == UserSearch::kName) text = UpperAscii(text);
  Show(SearchUsers(*db_, how, text));
}

UserEditor* UsersWindow::EditorFor(int row) {
  const QTableWidgetItem* item = row >= 0 ? list_->item(row, 0) : nullptr;
  if (!item) return nullptr;
  const long position = item->text().toLong();
  UserDB u{};
  UserDBidx idx{};
  if (!db_->ReadFromFile(position, u, idx)) return nullptr;
  const std::string call = FieldText(u.Call);
  auto* editor = new UserEditor(u, bbsDir_, cp_, this);
  editor->onUpdate = [this, editor, position, call](const UserDB& record, const UserChanges& changes) {
    if (!UpdateUser(*db_, position, record)) {
      QMessageBox::warning(editor, "Error..", "The user could not be stored.");
      return false;
    }
    if (onUserWritten) onUserWritten(position, call, changes);
    return true;
  };
  editor->onKill = [this, position, call] {
    if (KillUser(*db_, position) && onUserWritten) onUserWritten(position, call, {{"Type", "K"}});
  };
  return editor;
}

void UsersWindow::OpenEditor(int row) {
  std::unique_ptr<UserEditor> editor(EditorFor(row));
  if (editor && editor->exec() == QDialog::Accepted) Refresh();
}

}  // namespace orn
