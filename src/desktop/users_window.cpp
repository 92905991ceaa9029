#include "desktop/users_window.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/text.h"

namespace orn {
namespace {

const char* const kSearches[] = {"by position", "by callsign", "by name", "by type", "forwarding partners"};
const char* const kTypes[] = {"U-nrgstrd", "R-egular", "S-ysop", "B-bs", "X-pert", "L-ocal", "E-xcluded", "K-illed"};
constexpr int kTypeCount = 8;

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
  row->addWidget(how_);
  row->addWidget(what_, 1);
  row->addWidget(search);
  row->addWidget(edit);
  row->addWidget(all);
  layout->addLayout(row);
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
  if (!KillUser(*db_, item->text().toLong())) {
    QMessageBox::warning(this, "Error..", "The user could not be stored.");
    return;
  }
  Refresh();
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

void UsersWindow::OpenEditor(int row) {
  const QTableWidgetItem* item = row >= 0 ? list_->item(row, 0) : nullptr;
  if (!item) return;
  const long position = item->text().toLong();
  UserDB u{};
  UserDBidx idx{};
  if (!db_->ReadFromFile(position, u, idx)) return;

  QDialog dialog(this);
  dialog.setWindowTitle("User Edit");
  auto* form = new QFormLayout;
  auto line = [&](const char* label, const char* field) {
    auto* e = new QLineEdit(Text(field), &dialog);
    form->addRow(label, e);
    return e;
  };
  auto* call = line("Call", u.Call);
  call->setReadOnly(true);
  auto* name = line("Name", u.Name);
  auto* type = new QComboBox(&dialog);
  for (const char* t : kTypes) type->addItem(t);
  for (int i = 0; i < kTypeCount; ++i)
    if (kTypes[i][0] == u.Type[0]) type->setCurrentIndex(i);
  form->addRow("Type", type);
  auto* zip = line("Zip code", u.ZipCode);
  auto* home = line("Home BBS", u.HomeBbs);
  auto* hier = line("Hierarchical address", u.HierAddress);
  auto* language = line("Language", u.Language);
  auto* stay = new QSpinBox(&dialog);
  stay->setRange(0, 100000);
  stay->setValue(u.MaxStayMinutes);
  form->addRow("Max stay (minutes)", stay);
  auto* download = new QSpinBox(&dialog);
  download->setRange(0, 10000000);
  download->setValue(u.MaxDownload);
  form->addRow("Max download (1000 bytes)", download);
  auto* password = line("Password", u.Password);
  auto* generate = new QPushButton("Generate", &dialog);
  form->addRow("", generate);
  auto* ask = new QCheckBox("Ask for the password at login", &dialog);
  ask->setChecked(u.PasswordOk != 0);
  form->addRow("", ask);
  connect(generate, &QPushButton::clicked, &dialog, [&] {
    const std::string pw =
        GeneratePassword(bbsDir_, FieldText(u.Call), static_cast<uint32_t>(QDateTime::currentSecsSinceEpoch()));
    if (pw.empty()) {
      QMessageBox::warning(&dialog, "Error..", "The password file could not be written.");
    } else {
      password->setText(QString::fromStdString(pw));
    }
  });

  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* update = buttons->addButton("Update", QDialogButtonBox::AcceptRole);
  QPushButton* kill = buttons->addButton("KILL", QDialogButtonBox::DestructiveRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(kill, &QPushButton::clicked, &dialog, [&] {
    KillUser(*db_, position);
    dialog.accept();
  });
  connect(update, &QPushButton::clicked, &dialog, [&] {
    auto ansi = [this](QLineEdit* e) { return cp_.Utf8ToAnsi(e->text().toStdString()); };
    CopyField(u.Name, ansi(name));
    CopyField(u.Type, std::string(1, kTypes[type->currentIndex()][0]));
    CopyField(u.ZipCode, ansi(zip));
    CopyField(u.HomeBbs, UpperAscii(ansi(home)));
    CopyField(u.HierAddress, UpperAscii(ansi(hier)));
    CopyField(u.Language, UpperAscii(ansi(language)));
    u.MaxStayMinutes = stay->value();
    u.MaxDownload = download->value();
    CopyField(u.Password, ansi(password));
    u.PasswordOk = ask->isChecked() ? 1 : 0;
    if (!UpdateUser(*db_, position, u)) {
      QMessageBox::warning(&dialog, "Error..", "The user could not be stored.");
      return;
    }
    dialog.accept();
  });
  if (dialog.exec() == QDialog::Accepted) Refresh();
}

}  // namespace orn
