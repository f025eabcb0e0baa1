// The tool version check: the start-up clean-up, the 16-tick cycle of Timer4, the update
// offer and the two header labels.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "update/old_executables.h"
#include "app/version_fetcher.h"
#include "update/version_token.h"

// Qt
#include <QCursor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QTimer>

// Std
#include <filesystem>

namespace {

constexpr int RequestTick = 2;
constexpr int CheckTick = 6;
constexpr int LastTick = 15;

void SetUnderline(QLabel* label, bool underline) {
  QFont font = label->font();
  font.setUnderline(underline);
  label->setFont(font);
}

}  // namespace

void TForm1::DeleteOldExecutables() {
  const std::filesystem::path executable(ExecutablePath().toStdU16String());
  // Only ever the executable's own folder, never the working directory.
  if (!executable.is_absolute() || !executable.has_parent_path()) return;
  DeleteOldExecutablesIn(executable.parent_path());
}

void TForm1::Timer4Timer() {
  ProcessMessages();
  switch (VersionTicks) {
    case RequestTick:
      if (CppWebBrowser1 != nullptr) {
        CppWebBrowser1->Stop();
        CppWebBrowser1->Navigate(VendorAddress(QString::fromLatin1(VersionFilePath)), true);
      }
      VersionTicks = 3;
      return;
    case CheckTick:
      break;
    case LastTick:
      VersionTicks = 0;
      return;
    default:
      ++VersionTicks;
      return;
  }

  // The check.
  if (CppWebBrowser1 == nullptr ||
      CppWebBrowser1->ReadyState() != TVersionFetcher::ReadyStateComplete ||
      !CppWebBrowser1->HasDocument()) {
    VersionTicks = 7;
    return;
  }
  const std::optional<std::string> body = CppWebBrowser1->BodyHtml();
  if (!body) {
    VersionTicks = 0;
    return;
  }
  const std::optional<ToolVersion> server = ParseVersionToken(*body);
  if (!server) {
    VersionTicks = 0;
    return;
  }

  if (*server == OwnVersion) {
    SetUnderline(L_Msg, false);
    L_Msg->setText(QStringLiteral("O ZPiTool está atualizado"));
    Timer4->stop();
    return;
  }

  const std::optional<std::string> path = DownloadPath(*server);
  if (!path) {  // no file name can be made of that revision: treat as unreadable
    VersionTicks = 0;
    return;
  }
  Timer4->stop();  // before the box, so no tick runs while it is open
  DownloadAddress = VendorAddress(QString::fromStdString(*path)).toString(QUrl::FullyEncoded);

  const MsgResult answer = ShowMessageBox(
      QStringLiteral("Há uma nova versão do aplicativo ZPiTool disponível\r\n"
                     "gostaria de fazer o download agora?"),
      QStringLiteral("Atualização ZPiTool"), MsgIcon::Information, MsgButtons::YesNo);
  if (answer == MsgResult::Yes) {
    OpenUrl(DownloadAddress);
    return;
  }

  SetUnderline(L_Msg, true);
  L_Msg->setText(QStringLiteral("Clique aqui para atualizar o ZPiTool"));
  QPalette palette = L_Msg->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
  L_Msg->setPalette(palette);
  L_Msg->OnMouseEnter = Guarded([this] { L_SiteMouseEnter(); });
  L_Msg->OnMouseLeave = Guarded([this] { L_SiteMouseLeave(); });
  L_Msg->OnClick = Guarded([this] { L_MsgClick(); });
}

void TForm1::L_MsgClick() {
  OpenUrl(DownloadAddress);
  L_Msg->OnClick = nullptr;  // the offer works once
  L_Msg->setText(QString());
}

void TForm1::L_SiteClick() {
  OpenUrl(VendorServer().scheme() + QStringLiteral("://") + L_Site->text());
}

// The hand pointer is screen-wide while over the label; one override at most, so leaving
// always gives the default cursor back.
void TForm1::L_SiteMouseEnter() {
  if (QGuiApplication::overrideCursor() != nullptr)
    QGuiApplication::changeOverrideCursor(QCursor(Qt::PointingHandCursor));
  else
    QGuiApplication::setOverrideCursor(QCursor(Qt::PointingHandCursor));
}

void TForm1::L_SiteMouseLeave() {
  if (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
}
