// The listing of remote configuration commands in the log, from what the panel shows.
#include "app/controls.h"
#include "app/form1.h"
#include "app/panel_controls.h"
#include "config/remote_commands.h"

// Qt
#include <QLineEdit>

void TForm1::B_RemConfigClick() {
  const RemoteListing listing = ListRemoteCommands(ReadPanelValues(*this));
  Log->Clear();
  for (const std::string& line : listing.Lines) Log->Add(QString::fromStdString(line));
  for (const ConfigEdit edit : listing.Emptied) PanelEdit(*this, edit)->clear();
}
