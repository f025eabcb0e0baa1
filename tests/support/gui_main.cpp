// Entry of every window test executable: the offscreen platform, the application the tool
// uses, fallbacks that keep tests from blocking on a message box or starting a browser, then
// GoogleTest.
#include "gui_support.h"

// Qt
#include <QByteArray>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  TApplication application(argc, argv);
  SetMessageBoxHook([](const MessageBoxCall& call) {
    return call.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  });
  SetOpenUrlHook([](const QString& address) { OpenedUrls().push_back(address); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
