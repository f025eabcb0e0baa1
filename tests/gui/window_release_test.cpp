// The release-mode panel in the window: the identifier list with its counter, the scanner
// keys typed anywhere in the window, and the comparison shown by Label0.
#include "support/gui_support.h"

// Std
#include <string>

namespace {

using ReleasePanel = WindowTest;

const QColor Green{0, 128, 0};
const QColor Red{255, 0, 0};

QColor ResultColour(const TForm1& form) { return form.Label0->palette().color(QPalette::WindowText); }

void Scan(QWidget* target, const QString& keys) {
  for (const QChar c : keys)
    QTest::keyClick(target, c.toLatin1());
}

TEST_F(ReleasePanel, UnitsABAGiveThreeLinesAndARepeatNone) {
  form->AddReleaseId(0x0123ABCD, 0x00000001, 0xDEADBEEF);
  EXPECT_EQ(form->L_IdList->text(), QStringLiteral("1"));
  EXPECT_EQ(form->Edit1->text(), QStringLiteral("0123ABCD00000001DEADBEEF"));
  form->AddReleaseId(0x0123ABCD, 0x00000001, 0xDEADBEEF);  // the same unit again
  form->AddReleaseId(0x00000000, 0x00000000, 0x0000000A);
  form->AddReleaseId(0x0123ABCD, 0x00000001, 0xDEADBEEF);
  EXPECT_EQ(IdListLines(*form), (QStringList{"0123ABCD 00000001 DEADBEEF", "00000000 00000000 0000000A",
                                             "0123ABCD 00000001 DEADBEEF"}));
  EXPECT_EQ(form->L_IdList->text(), QStringLiteral("3"));
  EXPECT_TRUE(form->LogIdList->LastLineVisible());
}

TEST_F(ReleasePanel, ARepeatDoesNotRefillAClearedUsbField) {
  form->AddReleaseId(1, 2, 3);
  QTest::mouseClick(form->Label7, Qt::LeftButton);
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  form->AddReleaseId(1, 2, 3);
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_EQ(form->L_IdList->text(), QStringLiteral("1"));
}

TEST_F(ReleasePanel, ClearEmptiesTheListAndRecordsTheSameUnitAgain) {
  form->AddReleaseId(1, 2, 3);
  form->AddReleaseId(4, 5, 6);
  form->Edit2->setText(QStringLiteral("000000040000000500000006"));
  QTest::mouseClick(form->L_Clear, Qt::LeftButton);
  EXPECT_TRUE(IdListLines(*form).isEmpty());
  EXPECT_TRUE(form->L_IdList->text().isEmpty());
  // The comparison box is left alone.
  EXPECT_EQ(form->Edit1->text(), QStringLiteral("000000040000000500000006"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("OK"));
  form->AddReleaseId(4, 5, 6);
  EXPECT_EQ(IdListLines(*form), QStringList{QStringLiteral("00000004 00000005 00000006")});
  EXPECT_EQ(form->L_IdList->text(), QStringLiteral("1"));
  // A zero identifier right after "Limpar" equals the reset state.
  QTest::mouseClick(form->L_Clear, Qt::LeftButton);
  form->AddReleaseId(0, 0, 0);
  EXPECT_TRUE(IdListLines(*form).isEmpty());
}

TEST_F(ReleasePanel, TwentyFourKeysAnywhereFillTheScanField) {
  ASSERT_TRUE(WaitUntil([&] { return !form->Timer5->isActive(); }));
  form->AddReleaseId(0x0123ABCD, 0x00000001, 0xDEADBEEF);
  // Typed into a field of the panel: lower-case letters count as upper case.
  Scan(form->ED_RPX, QStringLiteral("0123abcd"));
  Scan(form.get(), QStringLiteral("00000001"));
  Scan(form->Edit1, QStringLiteral("DEADBEE"));
  EXPECT_TRUE(form->Edit2->text().isEmpty());
  Scan(form->Edit1, QStringLiteral("F"));
  EXPECT_EQ(form->Edit2->text(), QStringLiteral("0123ABCD00000001DEADBEEF"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("OK"));
  EXPECT_EQ(ResultColour(*form), Green);

  // The next 24 start a new scan; one character off shows the red X.
  Scan(form.get(), QStringLiteral("0123ABCD00000001DEADBEEE"));
  EXPECT_EQ(form->Edit2->text(), QStringLiteral("0123ABCD00000001DEADBEEE"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("X"));
  EXPECT_EQ(ResultColour(*form), Red);
}

TEST_F(ReleasePanel, CtrlDigitsKeypadDigitsAndOtherKeysAreIgnored) {
  QTest::keyClick(form.get(), Qt::Key_1, Qt::ControlModifier);
  QTest::keyClick(form.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  for (int k = Qt::Key_0; k <= Qt::Key_9; ++k)
    QTest::keyClick(form.get(), static_cast<Qt::Key>(k), Qt::KeypadModifier);
  for (const Qt::Key key : {Qt::Key_G, Qt::Key_Z, Qt::Key_Space, Qt::Key_Return, Qt::Key_Minus, Qt::Key_F5})
    QTest::keyClick(form.get(), key);
  EXPECT_EQ(form->Release.ScanPos, 0);
  // Shift and Alt do not matter.
  QTest::keyClick(form.get(), Qt::Key_B, Qt::ShiftModifier);
  QTest::keyClick(form.get(), Qt::Key_7, Qt::AltModifier);
  EXPECT_EQ(form->Release.ScanPos, 2);
  EXPECT_EQ(std::string(form->Release.ScanChars.data(), 2), "B7");
}

TEST_F(ReleasePanel, LabelClicksRestartTheScan) {
  Scan(form.get(), QString(23, u'A'));
  QTest::mouseClick(form->Label8, Qt::LeftButton);  // "QR code"
  EXPECT_EQ(form->Release.ScanPos, 0);
  Scan(form.get(), QString(23, u'B'));
  EXPECT_TRUE(form->Edit2->text().isEmpty());
  Scan(form.get(), QStringLiteral("C"));
  EXPECT_EQ(form->Edit2->text(), QString(23, u'B') + u'C');

  Scan(form.get(), QStringLiteral("12345"));
  QTest::mouseClick(form->Label7, Qt::LeftButton);  // "USB"
  EXPECT_EQ(form->Release.ScanPos, 0);
  Scan(form.get(), QStringLiteral("678"));
  QTest::mouseClick(form->Label0, Qt::LeftButton);
  EXPECT_EQ(form->Release.ScanPos, 0);
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_TRUE(form->Edit2->text().isEmpty());
}

TEST_F(ReleasePanel, ResultColoursAndTheStartStateForTwoEmptyFields) {
  const QColor windowText = form->palette().color(QPalette::WindowText);
  form->Edit1->setText(QStringLiteral("0123ABCD00000001DEADBEEF"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("X"));
  EXPECT_EQ(ResultColour(*form), Red);
  form->Edit2->setText(QStringLiteral("0123ABCD00000001DEADBEEF"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("OK"));
  EXPECT_EQ(ResultColour(*form), Green);
  form->Edit2->setText(QStringLiteral("0123abcd00000001deadbeef"));  // case matters
  EXPECT_EQ(form->Label0->text(), QStringLiteral("X"));

  // Clearing both compares nothing: no green OK, the start state.
  QTest::mouseClick(form->Label0, Qt::LeftButton);
  EXPECT_EQ(form->Label0->text(), QStringLiteral("X"));
  EXPECT_EQ(ResultColour(*form), windowText);
  EXPECT_NE(ResultColour(*form), Green);
}

TEST_F(ReleasePanel, WorksWhileTheStripIsHiddenAndWhenShown) {
  ASSERT_EQ(form->WindowWidth(), 563);
  form->AddReleaseId(7, 8, 9);
  Scan(form.get(), QStringLiteral("000000070000000800000009"));
  EXPECT_EQ(form->Label0->text(), QStringLiteral("OK"));
  QTest::keyClick(form.get(), Qt::Key_F12, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
  ASSERT_EQ(form->WindowWidth(), 859);
  EXPECT_TRUE(form->Label0->isVisible());
  EXPECT_TRUE(form->rect().contains(form->GroupBox2->geometry()));
}

}  // namespace
