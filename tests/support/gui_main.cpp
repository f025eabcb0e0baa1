// Entry of every window test executable: the offscreen platform (on Windows the system's own:
// Qt has no fonts offscreen there, so the tests draw real windows), the application the tool
// uses, fallbacks that keep tests from blocking on a message box or starting a browser, then
// GoogleTest.
#include "gui_support.h"

// Qt
#include <QByteArray>

int main(int argc, char** argv) {
#if !defined(_WIN32)
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
#endif
  TApplication application(argc, argv);
  SetMessageBoxHook([](const MessageBoxCall& call) {
    return call.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  });
  SetOpenUrlHook([](const QString& address) { OpenedUrls().push_back(address); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
