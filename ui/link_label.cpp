#include "ui/link_label.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "ui/app_title.h"
#include "ui/link_logic.h"
#include "ui/link_open.h"

namespace {

PixelRect ToPixels(const QRect& rect) {
    return {rect.left(), rect.top(), rect.width(), rect.height()};
}

QRect FromPixels(const PixelRect& rect) {
    return QRect(rect.left, rect.top, rect.width, rect.height);
}

}  // namespace

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hoverTimer_.setInterval(kLinkHoverTimerMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CLinkLabel::OnHoverTimer);
    opener_ = [this](const std::string& target, std::function<void(int)> done) {
        // The result comes back on the label's thread, unless the label is gone by then.
        QPointer<QObject> receiver(this);
        link_open::OpenTargetOnOwnThread(target, [receiver, done = std::move(done)](int result) {
            if (QObject* context = receiver.data()) {
                QMetaObject::invokeMethod(
                    context, [done, result] { done(result); }, Qt::QueuedConnection);
            }
        });
    };
}

void CLinkLabel::Attach() {
    setMouseTracking(true);  // the label must see the pointer to hover and be clicked
    if (target_.isEmpty()) {
        target_ = text();
    }
    if (text().isEmpty()) {
        setText(target_);
    }
    normalFont_ = font();
    underlinedFont_ = font();
    underlinedFont_.setUnderline(true);
    attached_ = true;
    FitWindowToText();
    LoadHandCursor();
    SetUnderlineMode(UNDERLINE_ON_HOVER);
    setToolTip(target_);
}

void CLinkLabel::SetLinkTarget(const QString& target) {
    target_ = target;
    if (attached_) {
        FitWindowToText();
        setToolTip(target_);
    }
}

void CLinkLabel::SetUnderlineMode(int mode) {
    if (mode == underlineMode_) {
        return;
    }
    if (attached_) {
        setFont(mode == UNDERLINE_ALWAYS ? underlinedFont_ : normalFont_);
        update();
    }
    underlineMode_ = mode;
}

void CLinkLabel::MarkVisited(bool visited) {
    visited_ = visited;
    update();
}

void CLinkLabel::FitWindowToText() {
    if (!attached_ || !fitToText_) {
        return;
    }
    const QFontMetrics metrics(underlinedFont_);
    const QSize textSize(metrics.horizontalAdvance(text()), metrics.height());
    const Qt::Alignment align = alignment();
    const HorizontalAlign horizontal = align & Qt::AlignHCenter ? HorizontalAlign::kCentre
                                       : align & Qt::AlignRight ? HorizontalAlign::kRight
                                                                : HorizontalAlign::kLeft;
    const VerticalAlign vertical =
        align & Qt::AlignVCenter ? VerticalAlign::kCentre : VerticalAlign::kTop;
    const QSize client = contentsRect().size();
    setGeometry(
        FromPixels(FitRectToText(ToPixels(geometry()), {client.width(), client.height()},
                                 {textSize.width(), textSize.height()}, horizontal, vertical)));
}

QColor CLinkLabel::CurrentColour() const {
    const QRgb background = palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    return QColor::fromRgb(LinkColour(hovering_, visited_, background));
}

void CLinkLabel::LoadHandCursor() {
    setCursor(Qt::PointingHandCursor);
}

void CLinkLabel::OpenLinkTarget(const QString& target) {
    opener_(target.toStdString(), [this](int result) { OnOpened(result); });
}

void CLinkLabel::ShowOpenFailure(int code) {
    QMessageBox::warning(this, ApplicationTitle(),
                         QString::fromStdString(OpenFailureMessage(code)));
}

QPoint CLinkLabel::PointerPosition() const {
    return mapFromGlobal(QCursor::pos());
}

void CLinkLabel::OnHoverTimer() {
    if (rect().contains(PointerPosition())) {
        return;
    }
    hovering_ = false;
    hoverTimer_.stop();
    if (underlineMode_ != UNDERLINE_ALWAYS) {
        setFont(normalFont_);
    }
    if (parentWidget() != nullptr) {
        parentWidget()->update(FromPixels(LeaveRepaintRect(ToPixels(geometry()))));
    }
    update();
}

void CLinkLabel::OnClicked() {
    hovering_ = false;  // the timer runs on: its next tick ends the hover if the pointer has gone
    OpenLinkTarget(target_);
}

void CLinkLabel::OnOpened(int result) {
    visited_ = IsOpenSuccess(result);
    if (visited_) {
        MarkVisited(true);
    } else {
        QApplication::beep();
        ShowOpenFailure(result);
    }
}

void CLinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(CurrentColour());
    painter.setFont(font());
    painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
}

void CLinkLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering_) {
        hovering_ = true;
        if (underlineMode_ == UNDERLINE_ON_HOVER) {
            setFont(underlinedFont_);
        }
        update();
        hoverTimer_.start();
    }
    QLabel::mouseMoveEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        OnClicked();
    }
    QLabel::mouseReleaseEvent(event);
}
