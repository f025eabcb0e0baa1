#include "app/controls.h"

// Qt
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

// Std
#include <algorithm>

namespace {

// Runs a copy: a handler may unbind or rebind itself (the offer label's click does), which
// would otherwise destroy the closure in the middle of its own call.
void Run(const std::function<void()>& handler) {
  if (!handler) return;
  const std::function<void()> running = handler;
  running();
}

}  // namespace

// ---- TClickLabel ------------------------------------------------------------------------

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    Run(OnClick);
}

void TClickLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  Run(OnMouseEnter);
}

void TClickLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  Run(OnMouseLeave);
}

// ---- TDropDownCombo ---------------------------------------------------------------------

void TDropDownCombo::showPopup() {
  Run(OnDropDown);
  QComboBox::showPopup();
}

namespace {

class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

}  // namespace

void TDropDownCombo::SetItemHeight(int height) { setItemDelegate(new FixedHeightDelegate(height, this)); }

// ---- TSpeedButton -----------------------------------------------------------------------

TSpeedButton::TSpeedButton(QWidget* parent) : QPushButton(parent) {
  setCheckable(true);
  setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
  connect(this, &QAbstractButton::clicked, this, [this] { Run(OnClick); });
}

void TSpeedButton::nextCheckState() {
  if (isChecked() && !AllowAllUp)
    return;
  QPushButton::nextCheckState();
}

// ---- TUpDown ----------------------------------------------------------------------------

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (limit_ > 0 && text.size() <= limit_) setMaxLength(limit_);
  });
}

void TEdit::SetTextLimit(int limit) {
  limit_ = limit > 0 ? limit : 0;
  if (limit_ > 0 && text().size() <= limit_) setMaxLength(limit_);
}

void TEdit::ShowWhole(const QString& text) {
  if (text.size() > maxLength()) setMaxLength(static_cast<int>(text.size()));
  setText(text);
}

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent)
    : QWidget(parent), Min(min), Max(max), associate_(associate), position_(position) {
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  for (QToolButton* button : {up_, down_}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(400);
    button->setAutoRepeatInterval(60);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  up_->setObjectName(QStringLiteral("up"));
  down_->setObjectName(QStringLiteral("down"));
  connect(up_, &QToolButton::clicked, this, &TUpDown::StepUp);
  connect(down_, &QToolButton::clicked, this, &TUpDown::StepDown);
  if (associate_) {
    associate_->installEventFilter(this);  // arrow keys in the edit box step as well
    associate_->setText(QString::number(position_));
  }
}

void TUpDown::SetPosition(int position) {
  position_ = std::clamp(position, Min, Max);
  if (associate_)
    associate_->setText(QString::number(position_));
}

void TUpDown::StepUp() { Step(+1); }
void TUpDown::StepDown() { Step(-1); }

void TUpDown::Step(int delta) {
  // The edit box's text, when it is a number in range, is where the step starts from;
  // otherwise (empty, typed garbage) the last position is.
  if (associate_) {
    bool ok = false;
    const int typed = associate_->text().toInt(&ok);
    if (ok && typed >= Min && typed <= Max)
      position_ = typed;
  }
  const long long next = static_cast<long long>(position_) + delta;
  SetPosition(static_cast<int>(std::clamp<long long>(next, Min, Max)));
}

void TUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == associate_ && event->type() == QEvent::KeyPress && isEnabled()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up) {
      StepUp();
      return true;
    }
    if (key->key() == Qt::Key_Down) {
      StepDown();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- TRichLog ---------------------------------------------------------------------------

TRichLog::TRichLog(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setAcceptRichText(false);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setLineWrapMode(QTextEdit::WidgetWidth);
}

void TRichLog::Add(const QString& line) {
  QTextCharFormat format;
  format.setForeground(color_);
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  const QStringList parts = line.split(QStringLiteral("\r\n"));
  for (const QString& part : parts) {
    if (hasLines_)
      cursor.insertBlock();
    cursor.setCharFormat(format);
    cursor.insertText(part, format);
    hasLines_ = true;
  }
  cursor.endEditBlock();
}

void TRichLog::Clear() {
  hasLines_ = false;
  color_ = Qt::black;
  clear();
  setTextColor(color_);
}

void TRichLog::SetColor(const QColor& color) { color_ = color; }

QStringList TRichLog::Lines() const {
  if (!hasLines_)
    return {};
  return toPlainText().split(u'\n');
}

QColor TRichLog::LineColor(int line) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid() || !hasLines_)
    return {};
  // The colour of the line's text (of its first character; the format of an empty line).
  for (auto it = block.begin(); !it.atEnd(); ++it)
    if (it.fragment().isValid())
      return it.fragment().charFormat().foreground().color();
  return block.charFormat().foreground().color();
}

void TRichLog::ScrollToEnd() {
  QTextCursor cursor = textCursor();
  cursor.movePosition(QTextCursor::End);
  setTextCursor(cursor);
  ensureCursorVisible();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());  // the bottom margin too
}

bool TRichLog::LastLineVisible() const {
  const QScrollBar* bar = verticalScrollBar();
  return bar->value() == bar->maximum();
}

void SetProgress(QProgressBar* bar, int position) {
  // QProgressBar paints synchronously whenever the bar moves by a pixel. With its updates
  // off it only records the value; a short timer turns them on again, which schedules one
  // ordinary paint: at most one paint per 40 ms however fast the frames go.
  auto* paint = bar->findChild<QTimer*>(QStringLiteral("progressPaint"), Qt::FindDirectChildrenOnly);
  if (!paint) {
    paint = new QTimer(bar);
    paint->setObjectName(QStringLiteral("progressPaint"));
    paint->setSingleShot(true);
    paint->setInterval(40);
    QObject::connect(paint, &QTimer::timeout, bar, [bar] { bar->setUpdatesEnabled(true); });
  }
  if (!paint->isActive()) {
    bar->setUpdatesEnabled(false);
    paint->start();
  }
  bar->setValue(position);
}
