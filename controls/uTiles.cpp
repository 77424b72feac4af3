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

void PaintGlyph(QPainter &p, const QRect &AClient, TTileGlyph AGlyph, const QColor &AFore)
{
    const TGlyphGeom g = GlyphGeometry(AClient);
    const int cx = g.cx, cy = g.cy, s = g.s, h = g.h;
    constexpr int pw = 2;  // glyph pen width
    auto line = [&](int x1, int y1, int x2, int y2) {
        WideLineExcl(p, QPoint(x1, y1), QPoint(x2, y2), AFore, pw);
    };
    auto magnifier = [&]() {
        const int r = s - 2;
        EllipseLTRB(p, cx - r, cy - r, cx + r - 2, cy + r - 2, AFore, pw);
        line(cx + r - 4, cy + r - 4, cx + s, cy + s);
        return r;
    };

    switch (AGlyph) {
    case TTileGlyph::tgNone:
        break;
    case TTileGlyph::tgPlay: {
        // Solid: the inside filled (pixel centres inside the triangle), then the outline.
        const QPoint a(cx - s + 2, cy - s), b(cx - s + 2, cy + s), c(cx + s, cy);
        p.save();
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        p.setBrush(AFore);
        p.drawPolygon(QPolygon({a, b, c}));
        p.restore();
        line(a.x(), a.y(), b.x(), b.y());
        line(b.x(), b.y(), c.x(), c.y());
        line(c.x(), c.y(), a.x(), a.y());
        break;
    }
    case TTileGlyph::tgPause:
        FillLTRB(p, cx - s + 1, cy - s, cx - 2, cy + s, AFore);
        FillLTRB(p, cx + 2, cy - s, cx + s - 1, cy + s, AFore);
        break;
    case TTileGlyph::tgStop:
        FillLTRB(p, cx - s, cy - s, cx + s, cy + s, AFore);
        break;
    case TTileGlyph::tgSave:
        FrameLTRB(p, cx - s, cy - s, cx + s, cy + s, AFore, pw);
        FillLTRB(p, cx - s + 3, cy - s + 2, cx + s - 6, cy - 2, AFore);
        FillLTRB(p, cx - s + 4, cy + 2, cx + s - 4, cy + s - 2, QColor(43, 43, 43));
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
        FrameLTRB(p, cx - s, cy - s, cx + s, cy + s, AFore, pw, true);
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

void PaintTile(QPainter &p, const QRect &AClient, const TTileLook &ALook)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setClipRect(AClient, Qt::IntersectClip);
    const TTileColours col = TileColours(ALook.Enabled, ALook.Selected, ALook.Hot);
    const int L = AClient.left(), T = AClient.top();
    RoundRectLTRB(p, L, T, L + AClient.width(), T + AClient.height(), ALook.Radius, ALook.Radius,
                  col.Border, col.Fill);
    if (ALook.Glyph != TTileGlyph::tgNone) {
        PaintGlyph(p, AClient, ALook.Glyph, col.Fore);
    } else if (!ALook.Caption.isEmpty()) {
        QFont f = InterfaceFont();
        f.setPointSize(ALook.BigFont ? 11 : 9);
        f.setWeight(QFont::Normal);
        p.setFont(f);
        p.setPen(col.Fore);
        p.setBrush(Qt::NoBrush);
        p.drawText(AClient, Qt::AlignCenter | Qt::TextSingleLine, ALook.Caption);
    }
    p.restore();
}

TTileButton::TTileButton(QWidget *AOwner) : QWidget(AOwner)
{
    setFocusPolicy(Qt::NoFocus);
    resize(96, 40);
}

void TTileButton::SetCaption(const QString &Value)
{
    if (Value == FCaption)
        return;
    FCaption = Value;
    update();
}

void TTileButton::SetGlyph(TTileGlyph Value)
{
    if (Value == FGlyph)
        return;
    FGlyph = Value;
    update();
}

void TTileButton::SetSelected(bool Value)
{
    if (Value == FSelected)
        return;
    FSelected = Value;
    update();
}

void TTileButton::SetHint(const QString &Value)
{
    FHint = Value;
    ApplyHint();
}

void TTileButton::SetShowHint(bool Value)
{
    FShowHint = Value;
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

void TTileButton::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            FPressed = false;
        update();
    }
    QWidget::changeEvent(e);
}

void TTileButton::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton && isEnabled())
        FPressed = true;
    e->accept();
}

void TTileButton::mouseReleaseEvent(QMouseEvent *e)
{
    e->accept();
    if (e->button() != Qt::LeftButton)
        return;
    const bool wasPressed = FPressed;
    FPressed = false;
    if (wasPressed && isEnabled() && rect().contains(e->position().toPoint()))
        emit OnClick();
}
