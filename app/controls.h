#pragma once
// Small controls the window needs beyond what Qt Widgets offers as such: a label that
// reports clicks and hovering, a list box with an event before it opens, a toggle button
// that may refuse to be released, an up-down spinner bound to an edit box, and the rich
// text log.

// Qt
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

// Std
#include <functional>

class QProgressBar;
class QToolButton;

// A label with click, mouse-enter and mouse-leave handlers; an empty handler is unbound.
class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

// A list box that runs OnDropDown just before its list opens.
class TDropDownCombo : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;
  void showPopup() override;
  // Every entry of the open list `height` pixels high, whatever the font and the style.
  void SetItemHeight(int height);
};

// A toggle button with a picture. A click flips Down unless the button is down and may
// not be released (AllowAllUp false), then runs OnClick.
class TSpeedButton : public QPushButton {
  Q_OBJECT
 public:
  explicit TSpeedButton(QWidget* parent = nullptr);
  bool AllowAllUp = true;
  std::function<void()> OnClick;
  [[nodiscard]] bool Down() const { return isChecked(); }
  void SetDown(bool down) { setChecked(down); }

 protected:
  void nextCheckState() override;
};

// An edit box with a text limit of its own (0: none). A value the program shows may be longer
// (a value read from the unit): it is shown whole and the limit is lifted while it is shown;
// as soon as the text fits again (cleared, filled in, edited down) the box's own limit holds.
class TEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TEdit(QWidget* parent = nullptr);
  void SetTextLimit(int limit);
  void ShowWhole(const QString& text);

 private:
  int limit_ = 0;
};

// An up-down spinner beside an edit box: its arrows step Position by 1 between Min and Max,
// without wrapping, and write it into the edit box as plain decimal text.
class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent = nullptr);
  int Min;
  int Max;
  [[nodiscard]] int Position() const { return position_; }
  void SetPosition(int position);
  void StepUp();
  void StepDown();
  [[nodiscard]] QLineEdit* Associate() const { return associate_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Step(int delta);
  QLineEdit* associate_;
  int position_;
  QToolButton* up_;
  QToolButton* down_;
};

// Moves a progress bar without painting it at once: the bar repaints at most every 40 ms,
// so a fast transfer does not pay for a paint per frame.
void SetProgress(QProgressBar* bar, int position);

// The read-only rich text log: lines are appended at the end in the current colour, which
// stays until changed or until the log is cleared (back to black).
class TRichLog : public QTextEdit {
  Q_OBJECT
 public:
  explicit TRichLog(QWidget* parent = nullptr);
  void Add(const QString& line);  // "\r\n" inside a line starts a new line
  void Clear();
  void SetColor(const QColor& color);
  [[nodiscard]] QColor Color() const { return color_; }
  [[nodiscard]] QStringList Lines() const;  // the plain text, one entry per line
  [[nodiscard]] QColor LineColor(int line) const;  // colour of a line's text (invalid: no such line)
  void ScrollToEnd();  // caret to the end of the text, scrolled into view
  [[nodiscard]] bool LastLineVisible() const;

 private:
  QColor color_{Qt::black};
  bool hasLines_ = false;
};
