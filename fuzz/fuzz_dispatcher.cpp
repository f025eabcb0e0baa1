// The receive dispatcher fed arbitrary receive events: the real window on the offscreen
// platform, its port closed and its message boxes recorded. Each input is a sequence of
// events (a length byte, then that many bytes); the window is brought back to its state
// after start-up between inputs, so inputs stay independent.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"

#include <QTimer>

#include <cstdlib>

namespace {

// One application and one window for the whole run; they live until the process ends
// (Qt's own globals are gone by the time static destructors would run).
TForm1* Window() {
  static TForm1* form = nullptr;
  if (!form) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_dispatcher";
    static char* argv[] = {name, nullptr};
    new TApplication(argc, argv);
    SetMessageBoxHook([](const MessageBoxCall& box) {
      return box.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    });
    form = new TForm1();
    form->Timer4->stop();  // no version check from a fuzzer
    form->Timer5Timer();
  }
  return form;
}

void Reset(TForm1& form) {
  for (QTimer* timer : {form.Timer1, form.Timer2, form.Timer3}) timer->stop();
  form.Log->Clear();
  form.Transfer = TransferState{};
  form.DeviceInfo = TDeviceInfo{};
  form.IdentityHandled = false;
  form.L_ClearClick();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TForm1& form = *Window();
  Reset(form);
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = data[at++];
    const std::size_t take = length < size - at ? length : size - at;
    const ConfigImage before = form.TxConfig.image;
    form.DispatchReceived({data + at, take});
    at += take;
    // A write is only ever set up from a complete, checked record.
    if (form.TxConfig.image != before && DecodeConfigImage(form.TxConfig.image, false).errors != 0) std::abort();
  }
  return 0;
}
