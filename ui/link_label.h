#pragma once

#include <QFont>
#include <QLabel>
#include <QTimer>
#include <functional>
#include <string>

// Underline modes.
inline constexpr int UNDERLINE_ON_HOVER = -1;
inline constexpr int UNDERLINE_NEVER = 0;
inline constexpr int UNDERLINE_ALWAYS = 1;

// A static text that behaves as a hyperlink: link, hover and visited colours, underlining
// always, never or while hovered, a pointing-hand cursor, a tooltip with its target, a window
// fitted to its text, and a click that opens the target. Window thread only.
class CLinkLabel : public QLabel {
    Q_OBJECT
  public:
    using Opener = std::function<int(const std::string& target)>;

    static constexpr QRgb kLinkColour = qRgb(0, 0, 238);
    static constexpr QRgb kVisitedColour = qRgb(85, 26, 139);
    static constexpr QRgb kHoverColour = qRgb(255, 0, 0);
    static constexpr int kHoverTimerMs = 100;

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
    // A click: open the target; mark visited, or beep and say why not.
    void OnClicked();

  protected:
    void LoadHandCursor();
    int OpenLinkTarget(const QString& target);
    void ShowOpenFailure(int code);
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
