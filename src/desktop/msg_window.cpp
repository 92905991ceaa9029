#include "desktop/msg_window.h"

#include <QDialog>
#include <QFileDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "admin/msg_exchange.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

const char* const kColumns[] = {"Msg#", "T", "S", "Size", "To", "From", "At@", "Time/Date", "Subject"};
const char* const kSearches[] = {"MsgNo", "Type", "Status", "< From", "> to", "@ At", "List Mine"};
const char* const kStatuses[] = {"N-unread", "Y-read", "H-eld", "O-ld", "K-illed"};
const char* const kTypes[] = {" -none", "P-rivate", "B-ulletin", "T-raffic", "H-tml"};

int IndexOfLetter(const char* const* choices, int n, char letter) {
  for (int i = 0; i < n; ++i)
    if (choices[i][0] == letter) return i;
  return 0;
}

}  // namespace

MsgWindow::MsgWindow(MsgAdminContext context, std::unique_ptr<TOrnDbase> db, const CodePages& cp, QWidget* parent)
    : QWidget(parent), ctx_(std::move(context)), db_(std::move(db)), cp_(cp) {
  setWindowTitle("Messages Data Base");
  auto* layout = new QVBoxLayout(this);
  list_ = new QTableWidget(0, 9, this);
  QStringList headers;
  for (const char* c : kColumns) headers << c;
  list_->setHorizontalHeaderLabels(headers);
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(list_, 1);

  auto* row = new QHBoxLayout;
  how_ = new QComboBox(this);
  for (const char* s : kSearches) how_->addItem(s);
  what_ = new QLineEdit(this);
  auto* create = new QPushButton("Create New Msg..", this);
  auto* edit = new QPushButton("Edit a Msg..", this);
  auto* search = new QPushButton("Search for Msg..", this);
  row->addWidget(how_);
  row->addWidget(what_, 1);
  row->addWidget(search);
  row->addWidget(edit);
  row->addWidget(create);
  layout->addLayout(row);

  connect(create, &QPushButton::clicked, this, [this] { OpenEditor(-1); });
  connect(edit, &QPushButton::clicked, this, [this] { OpenEditor(list_->currentRow()); });
  connect(search, &QPushButton::clicked, this, &MsgWindow::Search);
  connect(what_, &QLineEdit::returnPressed, this, &MsgWindow::Search);
  connect(list_, &QTableWidget::cellDoubleClicked, this, [this](int r, int) { OpenEditor(r); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int r = list_->rowAt(at.y());
    QMenu menu(this);
    QAction* reply = menu.addAction("&Reply");
    QAction* edit = menu.addAction("&Edit");
    QAction* kill = menu.addAction("&Kill");
    QAction* all = menu.addAction("&List All");
    QAction* import = menu.addAction("&Import");
    QAction* exportAction = menu.addAction("E&xport");
    exportAction->setEnabled(!list_->selectedItems().isEmpty());
    reply->setEnabled(r >= 0);
    edit->setEnabled(r >= 0);
    kill->setEnabled(r >= 0);
    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (chosen == all) {
      ShowAllM();
    } else if (chosen == import) {
      Import();
    } else if (chosen == exportAction) {
      Export();
    } else if (chosen == kill) {
      KillRow(r);
    } else if (chosen == edit) {
      OpenEditor(r);
    } else if (chosen == reply) {
      const auto rows = SearchMsgs(*db_, MsgSearch::kMsgNo, std::to_string(NumberAt(r)), ctx_.ownCall);
      MsgDB answer;
      if (rows.empty() || !PrepareReply(rows[0].record, ctx_.ownCall, &answer)) return;
      std::string text;
      if (ctx_.store) ReadMsgText(ctx_.store->site().mailDir, rows[0].record.MsgNo, &text);
      OpenEditor(-1, &answer, QString::fromStdString(cp_.AnsiToUtf8(text)));
    }
  });
  ShowAllM();
}

QString MsgWindow::Text(const char* field) const { return QString::fromStdString(cp_.AnsiToUtf8(field)); }

long MsgWindow::NumberAt(int row) const {
  const QTableWidgetItem* item = row >= 0 ? list_->item(row, 0) : nullptr;
  return item ? item->text().toLong() : 0;
}

void MsgWindow::Show(const std::vector<MsgRow>& rows) {
  list_->setRowCount(static_cast<int>(rows.size()));
  int r = 0;
  for (const MsgRow& row : rows) {
    const MsgDB& m = row.record;
    const QString cells[] = {QString::number(m.MsgNo), Text(m.Type),      Text(m.Status),
                             QString::number(m.Size),  Text(m.ToStation), Text(m.FromStation),
                             Text(m.AtBbs),            Text(m.MsgDate),   Text(m.MsgSubject)};
    for (int c = 0; c < 9; ++c) list_->setItem(r, c, new QTableWidgetItem(cells[c]));
    ++r;
  }
  list_->resizeColumnsToContents();
}

void MsgWindow::ShowAllM() {
  // The files may have been replaced (a database repair) since they were opened.
  db_->CloseAll();
  db_->OpenUserFile();
  db_->OpenMsgFile();
  Show(AllMsgs(*db_));
}

void MsgWindow::Search() {
  if (what_->text().isEmpty() && how_->currentIndex() != static_cast<int>(MsgSearch::kMine)) {
    ShowAllM();
    return;
  }
  const auto how = static_cast<MsgSearch>(how_->currentIndex());
  Show(SearchMsgs(*db_, how, cp_.Utf8ToAnsi(what_->text().toStdString()), ctx_.ownCall));
}

void MsgWindow::Export() {
  std::vector<long> numbers;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows()) numbers.push_back(NumberAt(index.row()));
  if (numbers.empty() || !ctx_.store) return;
  const QString file = QFileDialog::getSaveFileName(this, "Export", lastExport_, "All Files (*);;Text Files (*.txt)",
                                                    nullptr, QFileDialog::DontConfirmOverwrite);
  if (file.isEmpty()) return;
  lastExport_ = file;
  const int n = ExportMsgs(*db_, ctx_.store->site().mailDir, numbers, file.toStdString(), ctx_.stationCodePage);
  if (n < 0) {
    QMessageBox::warning(this, "Export", "The file could not be written.");
  } else {
    QMessageBox::information(this, "Export", "Operation Completed..");
  }
}

void MsgWindow::Import() {
  const QString file = QFileDialog::getOpenFileName(this, "Import", lastImport_, "All Files (*);;Text Files (*.txt)");
  if (file.isEmpty()) return;
  lastImport_ = file;
  const ImportResult r = ImportMsgs(ctx_, *db_, file.toStdString(), ctx_.autobid, ctx_.stationCodePage);
  ShowAllM();
  if (!r.readable) {
    QMessageBox::warning(this, "Import", "The file could not be read.");
  } else {
    QMessageBox::information(this, "Import", QString("File Saved.. (%1 stored, %2 skipped)").arg(r.stored.size()).arg(r.skipped));
  }
}

void MsgWindow::KillRow(int row) {
  const long number = NumberAt(row);
  if (number && KillMsg(ctx_, *db_, number)) Search();
}

void MsgWindow::OpenEditor(int row, const MsgDB* prefill, const QString& text) {
  MsgDB m{};
  const bool existing = row >= 0 && !prefill;
  if (existing) {
    const auto rows = SearchMsgs(*db_, MsgSearch::kMsgNo, std::to_string(NumberAt(row)), ctx_.ownCall);
    if (rows.empty()) return;
    m = rows[0].record;
  } else if (prefill) {
    m = *prefill;
  }
  QDialog dialog(this);
  dialog.setWindowTitle("Message Edit");
  auto* form = new QFormLayout;
  auto* type = new QComboBox(&dialog);
  for (const char* t : kTypes) type->addItem(t);
  type->setCurrentIndex(IndexOfLetter(kTypes, 5, m.Type[0] ? m.Type[0] : ' '));
  auto* status = new QComboBox(&dialog);
  for (const char* s : kStatuses) status->addItem(s);
  status->setCurrentIndex(IndexOfLetter(kStatuses, 5, m.Status[0] ? m.Status[0] : 'N'));
  auto* to = new QLineEdit(Text(m.ToStation), &dialog);
  auto* from = new QLineEdit(Text(m.FromStation), &dialog);
  auto* at = new QLineEdit(Text(m.AtBbs), &dialog);
  auto* bid = new QLineEdit(Text(m.Bid), &dialog);
  auto* subject = new QLineEdit(Text(m.MsgSubject), &dialog);
  auto* body = new QPlainTextEdit(&dialog);
  body->setPlainText(text);
  body->setReadOnly(existing);
  form->addRow("Type", type);
  form->addRow("Status", status);
  form->addRow("To", to);
  form->addRow("From", from);
  form->addRow("At", at);
  form->addRow("Bid", bid);
  form->addRow("Subject", subject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(body, 1);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* update = buttons->addButton("Update", QDialogButtonBox::AcceptRole);
  QPushButton* kill = existing ? buttons->addButton("Kill", QDialogButtonBox::DestructiveRole) : nullptr;
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (kill) connect(kill, &QPushButton::clicked, &dialog, [&] { dialog.done(2); });
  connect(update, &QPushButton::clicked, &dialog, [&] {
    auto ansi = [this](QLineEdit* e) { return cp_.Utf8ToAnsi(e->text().toStdString()); };
    CopyField(m.Type, std::string(1, kTypes[type->currentIndex()][0]));
    CopyField(m.Status, std::string(1, kStatuses[status->currentIndex()][0]));
    CopyField(m.ToStation, UpperAscii(Trim(ansi(to))));
    CopyField(m.FromStation, UpperAscii(Trim(ansi(from))));
    CopyField(m.AtBbs, UpperAscii(Trim(ansi(at))));
    CopyField(m.Bid, Trim(ansi(bid)));
    CopyField(m.MsgSubject, ansi(subject));
    std::string lines = cp_.Utf8ToAnsi(body->toPlainText().toStdString());
    std::string joined;
    for (char c : lines) joined += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const MsgEditResult r = existing ? UpdateMsg(ctx_, *db_, m) : CreateMsg(ctx_, *db_, m, joined);
    if (r == MsgEditResult::kFillAllFields) {
      QMessageBox::information(&dialog, "Info", "Fill all fields!!");
    } else if (r == MsgEditResult::kKnownBid) {
      QMessageBox::information(&dialog, "Info", "I already have this BID!!");
    } else if (r != MsgEditResult::kStored) {
      QMessageBox::warning(&dialog, "Error..", "The message could not be stored.");
    } else {
      dialog.accept();
    }
  });
  const int result = dialog.exec();
  if (result == 2) KillMsg(ctx_, *db_, m.MsgNo);
  if (result != QDialog::Rejected) ShowAllM();
}

}  // namespace orn
