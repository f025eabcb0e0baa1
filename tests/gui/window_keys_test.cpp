// The window's keyboard preview: the hidden-strip chord and the scanner collection, which see
// every key before the focused control without taking it away.
#include "support/gui_support.h"

// Qt
#include <QKeyEvent>

// Std
#include <tuple>
#include <vector>

namespace {

using KeyPreview = WindowTest;

constexpr Qt::KeyboardModifiers Chord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;

TEST(VirtualKeys, QtKeysMapToVirtualKeyCodes) {
  const std::vector<std::tuple<int, Qt::KeyboardModifiers, std::uint16_t>> cases{
      {Qt::Key_0, Qt::NoModifier, 0x30},        {Qt::Key_9, Qt::NoModifier, 0x39},
      {Qt::Key_5, Qt::ShiftModifier, 0x35},      {Qt::Key_A, Qt::NoModifier, 0x41},
      {Qt::Key_F, Qt::ShiftModifier, 0x46},      {Qt::Key_Z, Qt::NoModifier, 0x5A},
      {Qt::Key_0, Qt::KeypadModifier, 0x60},     {Qt::Key_9, Qt::KeypadModifier, 0x69},
      {Qt::Key_F1, Qt::NoModifier, 0x70},        {Qt::Key_F12, Chord, 0x7B},
      {Qt::Key_Return, Qt::NoModifier, 0x0D},    {Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
      {Qt::Key_Escape, Qt::NoModifier, 0x1B},    {Qt::Key_Space, Qt::NoModifier, 0x20},
      {Qt::Key_Shift, Qt::ShiftModifier, 0x10},  {Qt::Key_Control, Qt::ControlModifier, 0x11},
      {Qt::Key_Plus, Qt::KeypadModifier, 0x6B},  {Qt::Key_Down, Qt::NoModifier, 0x28},
      {Qt::Key_Exclam, Qt::ShiftModifier, 0},    // a symbol with no key code behind it
      {Qt::Key_Eacute, Qt::NoModifier, 0},
  };
  for (const auto& [key, modifiers, vk] : cases) {
    const QKeyEvent event(QEvent::KeyPress, key, modifiers);
    EXPECT_EQ(VirtualKeyOf(event), vk) << std::hex << key;
  }
  EXPECT_EQ(ShiftStateOf(Qt::NoModifier), 0u);
  EXPECT_EQ(ShiftStateOf(Chord), ssShift | ssAlt | ssCtrl);
  EXPECT_EQ(ShiftStateOf(Qt::ShiftModifier | Qt::KeypadModifier), unsigned{ssShift});
  EXPECT_EQ(ShiftStateOf(Qt::ControlModifier | Qt::MetaModifier), unsigned{ssCtrl});
}

TEST_F(KeyPreview, ChordTogglesTheWidthAndKeepsHeightAndPosition) {
  form->ED_VMX->setFocus();
  const QPoint position = form->pos();
  QTest::keyClick(form->ED_VMX, Qt::Key_F12, Chord);
  EXPECT_EQ(form->WindowWidth(), 859);
  EXPECT_EQ(form->width(), 853);
  EXPECT_EQ(form->height(), 742);
  EXPECT_EQ(form->pos(), position);
  // The strip is inside the window now; the engine-brake group and the hidden buttons never are.
  EXPECT_TRUE(form->rect().contains(form->GB_ReleaseMode->geometry()));
  EXPECT_TRUE(form->rect().contains(form->GroupBox2->geometry()));
  EXPECT_TRUE(form->rect().contains(form->Cb_Ventora->geometry()));
  EXPECT_FALSE(form->rect().intersects(form->GB_EBK->geometry()));
  EXPECT_FALSE(form->rect().intersects(form->B_GetConfig->geometry()));
  EXPECT_EQ(form->ED_VEBK->focusPolicy(), Qt::NoFocus);  // nor can Tab reach them

  QTest::keyClick(form.get(), Qt::Key_F12, Chord);
  EXPECT_EQ(form->WindowWidth(), 563);
  EXPECT_EQ(form->size(), QSize(557, 742));
  EXPECT_EQ(form->pos(), position);
  EXPECT_FALSE(form->rect().intersects(form->GB_ReleaseMode->geometry()));
}

TEST_F(KeyPreview, TwoModifiersOrAnotherKeyDoNothingToTheWidth) {
  for (const Qt::KeyboardModifiers two : {Qt::ControlModifier | Qt::AltModifier, Qt::ControlModifier | Qt::ShiftModifier,
                                          Qt::AltModifier | Qt::ShiftModifier, Qt::KeyboardModifiers(Qt::NoModifier)}) {
    QTest::keyClick(form->ED_VMX, Qt::Key_F12, two);
    EXPECT_EQ(form->WindowWidth(), 563);
  }
  QTest::keyClick(form->ED_VMX, Qt::Key_F11, Chord);
  EXPECT_EQ(form->WindowWidth(), 563);
}

TEST_F(KeyPreview, KeysStillReachTheFocusedControlAndCountOnce) {
  ASSERT_TRUE(WaitUntil([&] { return !form->Timer5->isActive(); }));
  form->ED_VMX->setFocus();
  QTest::keyClicks(form->ED_VMX, QStringLiteral("12"));
  EXPECT_EQ(form->ED_VMX->text(), QStringLiteral("12"));  // not consumed
  EXPECT_EQ(form->Release.ScanPos, 2);                  // seen once each, not once per parent
  EXPECT_EQ(std::string(form->Release.ScanChars.data(), 2), "12");
  // A read-only field does not take the key, which travels up through its parents to the
  // window: still one key.
  QTest::keyClick(form->Edit1, Qt::Key_5);
  QTest::keyClick(form->Edit1, Qt::Key_5);
  EXPECT_EQ(form->Release.ScanPos, 4);
  EXPECT_TRUE(form->Edit1->text().isEmpty());
}

TEST_F(KeyPreview, KeysOfOtherWindowsAreNotPreviewed) {
  QWidget other;
  other.show();
  QTest::keyClick(&other, Qt::Key_1);
  EXPECT_EQ(form->Release.ScanPos, 0);
}

}  // namespace
