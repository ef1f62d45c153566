#pragma once

#include <QFont>
#include <QLabel>
#include <QTimer>
#include <functional>
#include <string>

#include "ui/link_logic.h"

// A static text that behaves as a hyperlink: link, hover and visited colours, underlining
// always, never or while hovered, a pointing-hand cursor, a tooltip with its target, a window
// fitted to its text, and a click that opens the target. Window thread only.
class CLinkLabel : public QLabel {
    Q_OBJECT
  public:
    // Opens a target and calls back with the result (above 32: success), at once or later.
    using Opener =
        std::function<void(const std::string& target, std::function<void(int result)> done)>;

    explicit CLinkLabel(const QString& text, QWidget* parent = nullptr);

    // The set-up when the label takes over its place in a dialog: target and text complete each
    // other, the two fonts, fitting, cursor, tooltip.
    void Attach();
    void SetLinkTarget(const QString& target);
    void SetUnderlineMode(int mode);
    void MarkVisited(bool visited);
    void FitWindowToText();

    QString LinkTarget() const { return target_; }
    int UnderlineMode() const { return underlineMode_; }
    bool IsHovering() const { return hovering_; }
    bool IsVisited() const { return visited_; }
    QColor CurrentColour() const;
    // Replaces the way targets are opened (tests keep the desktop out of it).
    void SetOpener(Opener opener) { opener_ = std::move(opener); }

    // The hover timer's tick: ends the hover when the pointer has left.
    void OnHoverTimer();
    // A click: open the target; once the opener has answered, mark visited, or beep and say why
    // not.
    void OnClicked();

  protected:
    void LoadHandCursor();
    // Starts opening the target; OnOpened gets the result.
    void OpenLinkTarget(const QString& target);
    void ShowOpenFailure(int code);
    void OnOpened(int result);
    // Where the pointer is, in this label's coordinates.
    virtual QPoint PointerPosition() const;

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString target_;
    bool hovering_ = false;
    bool visited_ = false;
    int underlineMode_ = UNDERLINE_ON_HOVER;
    bool fitToText_ = true;
    bool attached_ = false;
    QFont normalFont_;
    QFont underlinedFont_;
    QTimer hoverTimer_;
    Opener opener_;
};
