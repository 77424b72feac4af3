// Tile button: the flat, rounded, owner-drawn push button with a caption or a vector glyph.
#include "uTiles.h"

#include "uDialogKit.h"
#include "uPaint.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

TTileColours TileColours(bool AEnabled, bool ASelected, bool AHot)
{
    if (!AEnabled)
        return {QColor(51, 51, 51), QColor(35, 35, 35), QColor(85, 85, 85)};
    if (ASelected)
        return {QColor(242, 228, 0), QColor(242, 228, 0), QColor(32, 32, 32)};
    if (AHot)
        return {QColor(77, 77, 77), QColor(60, 60, 60), QColor(230, 230, 230)};
    return {QColor(77, 77, 77), QColor(43, 43, 43), QColor(230, 230, 230)};
}

TGlyphGeom GlyphGeometry(const QRect &AClient)
{
    const int L = AClient.left(), T = AClient.top();
    const int R = L + AClient.width(), B = T + AClient.height();
    TGlyphGeom g;
    g.cx = (L + R) / 2;
    g.cy = (T + B) / 2;
    g.s = std::min(R - L, B - T) / 2 - 4;
    if (g.s < 4)
        g.s = 4;
    g.h = g.s / 2;
    return g;
}

void PaintGlyph(QPainter &APainter, const QRect &AClient, TTileGlyph AGlyph, const QColor &AFore)
{
    const TGlyphGeom g = GlyphGeometry(AClient);
    const int cx = g.cx, cy = g.cy, s = g.s, h = g.h;
    constexpr int pw = 2;  // glyph pen width
    auto line = [&](int AX1, int AY1, int AX2, int AY2) {
        WideLineExcl(APainter, QPoint(AX1, AY1), QPoint(AX2, AY2), AFore, pw);
    };
    auto magnifier = [&]() {
        const int r = s - 2;
        EllipseLTRB(APainter, cx - r, cy - r, cx + r - 2, cy + r - 2, AFore, pw);
        line(cx + r - 4, cy + r - 4, cx + s, cy + s);
        return r;
    };

    switch (AGlyph) {
    case TTileGlyph::tgNone:
        break;
    case TTileGlyph::tgPlay: {
        // Solid: the inside filled (pixel centres inside the triangle), then the outline.
        const QPoint a(cx - s + 2, cy - s), b(cx - s + 2, cy + s), c(cx + s, cy);
        APainter.save();
        APainter.setRenderHint(QPainter::Antialiasing, false);
        APainter.setPen(Qt::NoPen);
        APainter.setBrush(AFore);
        APainter.drawPolygon(QPolygon({a, b, c}));
        APainter.restore();
        line(a.x(), a.y(), b.x(), b.y());
        line(b.x(), b.y(), c.x(), c.y());
        line(c.x(), c.y(), a.x(), a.y());
        break;
    }
    case TTileGlyph::tgPause:
        FillLTRB(APainter, cx - s + 1, cy - s, cx - 2, cy + s, AFore);
        FillLTRB(APainter, cx + 2, cy - s, cx + s - 1, cy + s, AFore);
        break;
    case TTileGlyph::tgStop:
        FillLTRB(APainter, cx - s, cy - s, cx + s, cy + s, AFore);
        break;
    case TTileGlyph::tgSave:
        FrameLTRB(APainter, cx - s, cy - s, cx + s, cy + s, AFore, pw);
        FillLTRB(APainter, cx - s + 3, cy - s + 2, cx + s - 6, cy - 2, AFore);
        FillLTRB(APainter, cx - s + 4, cy + 2, cx + s - 4, cy + s - 2, QColor(43, 43, 43));
        break;
    case TTileGlyph::tgZoomIn:
    case TTileGlyph::tgZoomOut:
    case TTileGlyph::tgZoomFit: {
        const int r = magnifier();
        if (AGlyph != TTileGlyph::tgZoomFit)
            line(cx - r + 3, cy - 1, cx + r - 7, cy - 1);
        if (AGlyph == TTileGlyph::tgZoomIn)
            line(cx - 2, cy - r + 4, cx - 2, cy + r - 8);
        break;
    }
    case TTileGlyph::tgSelect:
        FrameLTRB(APainter, cx - s, cy - s, cx + s, cy + s, AFore, pw, true);
        line(cx + 2, cy + s - 4, cx + s - 2, cy + s - 4);
        line(cx + s - 5, cy + 1, cx + s - 5, cy + s - 1);
        break;
    case TTileGlyph::tgPrev:
        line(cx + h, cy - s, cx - h, cy);
        line(cx - h, cy, cx + h, cy + s);
        break;
    case TTileGlyph::tgNext:
        line(cx - h, cy - s, cx + h, cy);
        line(cx + h, cy, cx - h, cy + s);
        break;
    }
}

void PaintTile(QPainter &APainter, const QRect &AClient, const TTileLook &ALook)
{
    APainter.save();
    APainter.setRenderHint(QPainter::Antialiasing, false);
    APainter.setClipRect(AClient, Qt::IntersectClip);
    const TTileColours col = TileColours(ALook.Enabled, ALook.Selected, ALook.Hot);
    const int L = AClient.left(), T = AClient.top();
    RoundRectLTRB(APainter, L, T, L + AClient.width(), T + AClient.height(), ALook.Radius, ALook.Radius,
                  col.Border, col.Fill);
    if (ALook.Glyph != TTileGlyph::tgNone) {
        PaintGlyph(APainter, AClient, ALook.Glyph, col.Fore);
    } else if (!ALook.Caption.isEmpty()) {
        QFont f = InterfaceFont();
        f.setPointSize(ALook.BigFont ? 11 : 9);
        f.setWeight(QFont::Normal);
        APainter.setFont(f);
        APainter.setPen(col.Fore);
        APainter.setBrush(Qt::NoBrush);
        APainter.drawText(AClient, Qt::AlignCenter | Qt::TextSingleLine, ALook.Caption);
    }
    APainter.restore();
}

TTileButton::TTileButton(QWidget *AOwner) : QWidget(AOwner)
{
    setFocusPolicy(Qt::NoFocus);
    resize(96, 40);
}

void TTileButton::SetCaption(const QString &AValue)
{
    if (AValue == FCaption)
        return;
    FCaption = AValue;
    update();
}

void TTileButton::SetGlyph(TTileGlyph AValue)
{
    if (AValue == FGlyph)
        return;
    FGlyph = AValue;
    update();
}

void TTileButton::SetSelected(bool AValue)
{
    if (AValue == FSelected)
        return;
    FSelected = AValue;
    update();
}

void TTileButton::SetHint(const QString &AValue)
{
    FHint = AValue;
    ApplyHint();
}

void TTileButton::SetShowHint(bool AValue)
{
    FShowHint = AValue;
    ApplyHint();
}

void TTileButton::ApplyHint() { setToolTip(FShowHint ? FHint : QString()); }

TTileLook TTileButton::Look() const
{
    TTileLook l;
    l.Caption = FCaption;
    l.Glyph = FGlyph;
    l.Enabled = isEnabled();
    l.Selected = FSelected;
    l.Hot = FHot;
    l.Radius = FRadius;
    l.BigFont = FBigFont;
    return l;
}

void TTileButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    PaintTile(p, rect(), Look());
}

void TTileButton::enterEvent(QEnterEvent *)
{
    if (!isEnabled())
        return;
    FHot = true;
    update();
}

void TTileButton::leaveEvent(QEvent *)
{
    FHot = false;
    update();
}

void TTileButton::changeEvent(QEvent *AEvent)
{
    if (AEvent->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            FPressed = false;
        update();
    }
    QWidget::changeEvent(AEvent);
}

void TTileButton::mousePressEvent(QMouseEvent *AEvent)
{
    if (AEvent->button() == Qt::LeftButton && isEnabled())
        FPressed = true;
    AEvent->accept();
}

void TTileButton::mouseReleaseEvent(QMouseEvent *AEvent)
{
    AEvent->accept();
    if (AEvent->button() != Qt::LeftButton)
        return;
    const bool wasPressed = FPressed;
    FPressed = false;
    if (wasPressed && isEnabled() && rect().contains(AEvent->position().toPoint()))
        emit OnClick();
}
