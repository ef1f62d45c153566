#include "ui/link_label.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>

#include "ui/app_title.h"
#include "ui/link_logic.h"
#include "ui/link_open.h"

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hoverTimer_.setInterval(kHoverTimerMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CLinkLabel::OnHoverTimer);
    opener_ = [this](const std::string& target, std::function<void(int)> done) {
        link_open::OpenTargetAsync(target, this, std::move(done));
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
    setGeometry(FitRectToText(geometry(), contentsRect().size(), textSize, alignment()));
}

QColor CLinkLabel::CurrentColour() const {
    if (palette().color(QPalette::Window).lightness() < 128) {
        return QColor(hovering_  ? kHoverColourOnDark
                      : visited_ ? kVisitedColourOnDark
                                 : kLinkColourOnDark);
    }
    return QColor(hovering_ ? kHoverColour : visited_ ? kVisitedColour : kLinkColour);
}

void CLinkLabel::LoadHandCursor() {
    setCursor(Qt::PointingHandCursor);
}

void CLinkLabel::OpenLinkTarget(const QString& target) {
    opener_(target.toStdString(), [this](int result) { OnOpened(result); });
}

void CLinkLabel::ShowOpenFailure(int code) {
    QMessageBox::warning(this, ApplicationTitle(), OpenFailureMessage(code));
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
        parentWidget()->update(LeaveRepaintRect(geometry()));
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
