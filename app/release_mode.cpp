// The release-mode panel: the list of the identifiers of the units connected one after
// another, and the comparison of the USB identifier with the scanned one.
#include "app/form1.h"

// lib
#include "app/controls.h"

// Qt
#include <QLineEdit>

namespace {

const QColor MatchGreen{0, 128, 0};
const QColor MismatchRed{255, 0, 0};

void SetResult(TClickLabel* label, const QString& caption, const QColor& colour) {
  label->setText(caption);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

}  // namespace

void TForm1::AddReleaseId(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1) {
  if (!RecordReleaseId(Release, word3, word2, word1))
    return;
  LogIdList->Add(QString::fromStdString(ReleaseIdLine(word3, word2, word1)));
  L_IdList->setText(QString::number(Release.Count));
  Edit1->setText(QString::fromStdString(ReleaseIdText(word3, word2, word1)));
}

void TForm1::L_ClearClick() {
  L_IdList->setText(QString());
  LogIdList->Clear();
  ResetReleaseList(Release);
}

void TForm1::Edit1Change() {
  switch (CompareIds(Edit1->text().toStdString(), Edit2->text().toStdString())) {
    case IdMatch::Start:  // nothing to compare: the start state, not a green "OK"
      SetResult(Label0, QStringLiteral("X"), palette().color(QPalette::WindowText));
      break;
    case IdMatch::Equal:
      SetResult(Label0, QStringLiteral("OK"), MatchGreen);
      break;
    case IdMatch::Different:
      SetResult(Label0, QStringLiteral("X"), MismatchRed);
      break;
  }
}

void TForm1::Label0Click() {
  Edit1->clear();
  Edit2->clear();
  RestartScanner(Release);
}

void TForm1::Label7Click() {
  Edit1->clear();
  RestartScanner(Release);
}

void TForm1::Label8Click() {
  Edit2->clear();
  RestartScanner(Release);
}

void TForm1::ScannerKey(std::uint16_t Key, TShiftState Shift) {
  if (const auto scanned = ScannerFeed(Release, Key, (Shift & ssCtrl) != 0))
    Edit2->setText(QString::fromStdString(*scanned));
}
