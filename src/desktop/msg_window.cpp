#include "desktop/msg_window.h"

#include <QDialog>
#include <QFontDatabase>
#include <QFileDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QRegularExpression>
#include <QShortcut>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <cstring>

#include "desktop/icons.h"

#include "admin/msg_exchange.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

const char* const kColumns[] = {"Msg#", "T", "S", "Size", "To", "From", "At@", "Time/Date", "Subject"};
// The choices are the admin layer's, which the web console offers too.
const auto& kSearches = kMsgSearchNames;
const auto& kStatuses = kMsgStatusNames;
const auto& kTypes = kMsgTypeNames;

int IndexOfLetter(const char* const* choices, int n, char letter) {
  for (int i = 0; i < n; ++i)
    if (choices[i][0] == letter) return i;
  return 0;
}

}  // namespace

MsgWindow::MsgWindow(MsgAdminContext context, std::unique_ptr<TOrnDbase> db, const CodePages& cp, QWidget* parent)
    : QWidget(parent), ctx_(std::move(context)), db_(std::move(db)), cp_(cp) {
  setWindowTitle("Messages Data Base");
  connect(&importTimer_, &QTimer::timeout, this, &MsgWindow::ImportStep);
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
  list_->setWordWrap(false);
  list_->setIconSize(QSize(16, 16));
  // A click on a column's title sorts by it; Home and End go to the first
  // and the last message.
  list_->setSortingEnabled(true);
  list_->sortByColumn(0, Qt::AscendingOrder);
  auto* home = new QShortcut(QKeySequence(Qt::Key_Home), list_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(home, &QShortcut::activated, this, [this] {
    if (list_->rowCount() > 0) list_->setCurrentCell(0, list_->currentColumn() < 0 ? 0 : list_->currentColumn());
  });
  auto* end = new QShortcut(QKeySequence(Qt::Key_End), list_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(end, &QShortcut::activated, this, [this] {
    if (list_->rowCount() > 0)
      list_->setCurrentCell(list_->rowCount() - 1, list_->currentColumn() < 0 ? 0 : list_->currentColumn());
  });
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setObjectName("messageText");
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setPlaceholderText("Choose a message to read its text.");
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(list_);
  split->addWidget(text_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);
  connect(list_, &QTableWidget::currentCellChanged, this, [this](int r, int, int, int) { ShowText(r); });

  auto* row = new QHBoxLayout;
  how_ = new QComboBox(this);
  for (const char* s : kSearches) how_->addItem(s);
  what_ = new QLineEdit(this);
  auto* create = new QPushButton("Create New Msg..", this);
  auto* edit = new QPushButton("Edit a Msg..", this);
  auto* search = new QPushButton("Search for Msg..", this);
  found_ = new QLabel(this);
  found_->setObjectName("found");
  row->addWidget(found_);
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
    QAction* hold = menu.addAction("&Hold");
    QAction* release = menu.addAction("Re&lease");
    QAction* all = menu.addAction("&List All");
    QAction* import = menu.addAction("&Import");
    QAction* exportAction = menu.addAction("E&xport");
    exportAction->setEnabled(!list_->selectedItems().isEmpty());
    reply->setEnabled(r >= 0 && CanReply(r));
    edit->setEnabled(r >= 0);
    kill->setEnabled(r >= 0);
    const QTableWidgetItem* statusItem = r >= 0 ? list_->item(r, 2) : nullptr;
    const QString status = statusItem ? statusItem->text() : QString();
    hold->setEnabled(r >= 0 && status != "H" && status != "K");
    release->setEnabled(r >= 0 && status == "H");
    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (chosen == hold || chosen == release) {
      HoldRow(r, chosen == hold);
      return;
    }
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
      MsgDB original, answer;
      if (!Find(NumberAt(r), &original) || !PrepareReply(original, ctx_.ownCall, &answer)) return;
      std::string text;
      if (ctx_.store) ReadMsgText(ctx_.store->site().mailDir, original.MsgNo, &text);
      OpenEditor(-1, &answer, QuotedReply(QString::fromStdString(cp_.AnsiToUtf8(text))));
    }
  });
  ShowAllM();
}

QString MsgWindow::Text(const char* field) const { return QString::fromStdString(cp_.AnsiToUtf8(field)); }

QString MsgWindow::ReadableDate(const char* stored) {
  // "HHMM/YYMMDD" as the records keep it; anything else is shown as it is.
  const QString d = QString::fromLatin1(stored);
  static const QRegularExpression form("^(\\d\\d)(\\d\\d)/(\\d\\d)(\\d\\d)(\\d\\d)$");
  const QRegularExpressionMatch m = form.match(d);
  if (!m.hasMatch()) return d;
  const int yy = m.captured(3).toInt();
  return QString("%1-%2-%3 %4:%5")
      .arg(yy < 80 ? 2000 + yy : 1900 + yy)
      .arg(m.captured(4), m.captured(5), m.captured(1), m.captured(2));
}

bool MsgWindow::Find(long number, MsgDB* m) {
  if (!number) return false;
  const auto rows = SearchMsgs(*db_, MsgSearch::kMsgNo, std::to_string(number), ctx_.ownCall);
  if (rows.empty()) return false;
  *m = rows[0].record;
  return true;
}

bool MsgWindow::CanReply(int row) {
  MsgDB original, answer;
  return Find(NumberAt(row), &original) && PrepareReply(original, ctx_.ownCall, &answer);
}

void MsgWindow::ShowText(int row) {
  const long number = NumberAt(row);
  std::string text;
  if (!number || !ctx_.store || !ReadMsgText(ctx_.store->site().mailDir, number, &text)) {
    text_->setPlainText(number ? QString("(message %1 has no text file)").arg(number) : QString());
    return;
  }
  text_->setPlainText(QString::fromStdString(cp_.AnsiToUtf8(text)));
}

void MsgWindow::SetLook(const WindowLook& look) {
  listColour_ = look.msgList;
  for (int r = 0; r < list_->rowCount(); ++r)
    for (int c = 0; c < list_->columnCount(); ++c)
      if (QTableWidgetItem* item = list_->item(r, c)) item->setForeground(listColour_);
  QPalette p = text_->palette();
  p.setColor(QPalette::Text, look.msgText);
  text_->setPalette(p);
  QFont listFont = look.font;
  list_->setFont(listFont);
  text_->setFont(look.font);
  list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(listFont).height() + 6);
  list_->resizeColumnsToContents();
}

long MsgWindow::NumberAt(int row) const {
  const QTableWidgetItem* item = row >= 0 ? list_->item(row, 0) : nullptr;
  return item ? item->text().toLong() : 0;
}

void MsgWindow::Show(const std::vector<MsgRow>& rows) {
  const long current = NumberAt(list_->currentRow());
  list_->setUpdatesEnabled(false);
  const bool sorted = list_->isSortingEnabled();
  list_->setSortingEnabled(false);
  list_->clearContents();
  list_->setRowCount(static_cast<int>(rows.size()));
  int r = 0, again = -1;
  static const QIcon icons[] = {StatusIcon('N'), StatusIcon('Y'), StatusIcon('H'), StatusIcon('O'),
                                StatusIcon('K'), StatusIcon('F'), StatusIcon(' ')};
  for (const MsgRow& row : rows) {
    const MsgDB& m = row.record;
    const QString cells[] = {QString::number(m.MsgNo), Text(m.Type),      Text(m.Status),
                             QString::number(m.Size),  Text(m.ToStation), Text(m.FromStation),
                             Text(m.AtBbs),            ReadableDate(m.MsgDate), Text(m.MsgSubject)};
    for (int c = 0; c < 9; ++c) {
      auto* item = new QTableWidgetItem;
      // Numbers sort as numbers.
      if (c == 0 || c == 3) {
        item->setData(Qt::DisplayRole, c == 0 ? static_cast<qlonglong>(m.MsgNo) : static_cast<qlonglong>(m.Size));
      } else {
        item->setText(cells[c]);
      }
      if (listColour_.isValid()) item->setForeground(listColour_);
      list_->setItem(r, c, item);
    }
    const char* const order = "NYHOKF";
    const char* at = m.Status[0] ? std::strchr(order, m.Status[0]) : nullptr;
    list_->item(r, 0)->setIcon(icons[at ? at - order : 6]);
    if (m.MsgNo == current) again = r;
    ++r;
  }
  list_->setSortingEnabled(sorted);
  list_->resizeColumnsToContents();
  // A little air, so that no call or date is cut at the column's edge.
  for (int c = 0; c + 1 < list_->columnCount(); ++c) list_->setColumnWidth(c, list_->columnWidth(c) + 10);
  list_->setUpdatesEnabled(true);
  found_->setText(rows.size() == 1 ? QString("1 message") : QString("%1 messages").arg(rows.size()));
  if (again >= 0) {
    for (int r2 = 0; r2 < list_->rowCount(); ++r2)
      if (NumberAt(r2) == current) again = r2;
    list_->setCurrentCell(again, 0);
  } else {
    ShowText(-1);
  }
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
  if (import_) {
    QMessageBox::information(this, "Import", "An import is already under way.");
    return;
  }
  const QString file = QFileDialog::getOpenFileName(this, "Import", lastImport_, "All Files (*);;Text Files (*.txt)");
  if (file.isEmpty()) return;
  lastImport_ = file;
  ImportFile(file);
}

void MsgWindow::ImportFile(const QString& file) {
  if (import_) return;
  import_ = std::make_unique<ImportJob>(ctx_, file.toStdString(), ctx_.stationCodePage);
  importTimer_.setInterval(0);
  importTimer_.start();
}

void MsgWindow::ImportStep() {
  if (!import_ || (filesBusy && filesBusy())) return;
  const bool done = import_->Step(*db_, 40);
  setWindowTitle(done ? QString("Messages Data Base")
                      : QString("Messages Data Base - ") + QString::fromStdString(import_->Progress()));
  if (!done) return;
  importTimer_.stop();
  const std::unique_ptr<ImportJob> job = std::move(import_);
  const ImportResult& r = job->result();
  ShowAllM();
  MailMayHaveChanged();
  if (onImportDone) {
    onImportDone(r);
    return;
  }
  const QString counts = QString("%1 stored, %2 already here, %3 skipped").arg(r.stored.size()).arg(r.known).arg(r.skipped);
  if (!r.error.empty()) {
    QMessageBox::warning(this, "Import",
                         QString::fromStdString(r.error) + (r.storeFailed ? " (" + counts + " before it)" : QString()));
  } else {
    QMessageBox::information(this, "Import", "File Saved.. (" + counts + ")");
  }
}

QString MsgWindow::QuotedReply(const QString& text) {
  // The original below a line for the answer, each of its lines after "> ".
  QStringList lines = text.split('\n');
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  QString quoted = "\n\n";
  for (const QString& line : lines) quoted += (line.isEmpty() ? QString(">") : "> " + line) + "\n";
  return quoted;
}

void MsgWindow::HoldRow(int row, bool hold) {
  const long number = NumberAt(row);
  if (!number) return;
  const HoldResult r = HoldMsg(ctx_, *db_, number, hold);
  if (r == HoldResult::kNotStored) QMessageBox::warning(this, "Error..", "The message could not be stored.");
  Search();
  MailMayHaveChanged();
}

void MsgWindow::KillRow(int row) {
  const long number = NumberAt(row);
  if (number && KillMsg(ctx_, *db_, number)) {
    Search();
    MailMayHaveChanged();
  }
}

void MsgWindow::OpenEditor(int row, const MsgDB* prefill, const QString& text) {
  MsgDB m{};
  const bool existing = row >= 0 && !prefill;
  QString shownText = text;
  if (existing) {
    if (!Find(NumberAt(row), &m)) return;
    std::string stored;
    if (ctx_.store) ReadMsgText(ctx_.store->site().mailDir, m.MsgNo, &stored);
    shownText = QString::fromStdString(cp_.AnsiToUtf8(stored));
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
  body->setObjectName("editorText");
  body->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  body->setPlainText(shownText);
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
    const std::string lines = cp_.Utf8ToAnsi(body->toPlainText().toStdString());
    MsgEditResult r;
    if (existing) {
      // The text is written only when the sysop changed it.
      r = body->document()->isModified() ? UpdateMsg(ctx_, *db_, m, lines) : UpdateMsg(ctx_, *db_, m);
    } else {
      std::string joined;
      for (char c : lines) joined += c == '\n' ? std::string("\r\n") : std::string(1, c);
      r = CreateMsg(ctx_, *db_, m, joined);
    }
    if (r == MsgEditResult::kFillAllFields) {
      QMessageBox::information(&dialog, "Info",
                               QString("Fill all fields!!\n%1 is empty.").arg(QString::fromStdString(MissingMsgField(m))));
    } else if (r == MsgEditResult::kKnownBid) {
      QMessageBox::information(&dialog, "Info", "I already have this BID!!");
    } else if (r != MsgEditResult::kStored) {
      QMessageBox::warning(&dialog, "Error..", "The message could not be stored.");
    } else {
      dialog.accept();
    }
  });
  dialog.resize(640, 560);
  const int result = dialog.exec();
  if (result == 2) KillMsg(ctx_, *db_, m.MsgNo);
  if (result != QDialog::Rejected) {
    ShowAllM();
    MailMayHaveChanged();
  }
}

}  // namespace orn
