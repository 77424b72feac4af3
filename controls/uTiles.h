// Tile button: the flat, rounded, owner-drawn push button with a caption or a vector glyph.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

class QPainter;

enum class TTileGlyph { tgNone, tgPlay, tgPause, tgStop, tgSave, tgZoomIn, tgZoomOut, tgZoomFit,
                        tgSelect, tgPrev, tgNext };

// ---- Layout and state (no widget) ----

struct TTileColours {
    QColor Border;
    QColor Fill;
    QColor Fore;  // caption and glyph
};
// First match wins: disabled, selected, hot, normal.
TTileColours TileColours(bool AEnabled, bool ASelected, bool AHot);

// Glyph geometry of a client rectangle: cx, cy are the truncated middles; s = min(w, h) / 2 - 4,
// at least 4; h = s / 2 (the chevrons' half width).
struct TGlyphGeom {
    int cx = 0;
    int cy = 0;
    int s = 4;
    int h = 2;
};
TGlyphGeom GlyphGeometry(const QRect &AClient);

// Everything a tile paint depends on.
struct TTileLook {
    QString Caption;
    TTileGlyph Glyph = TTileGlyph::tgNone;
    bool Enabled = true;
    bool Selected = false;
    bool Hot = false;
    int Radius = 10;
    bool BigFont = false;
};

// ---- Painting ----

// Paints a whole tile into AClient (antialiasing off). The corners outside the rounded shape are
// not touched, so whatever lies below shows there.
void PaintTile(QPainter &APainter, const QRect &AClient, const TTileLook &ALook);
// Draws only the glyph in colour AFore (the tgSave label is always RGB(43, 43, 43)).
void PaintGlyph(QPainter &APainter, const QRect &AClient, TTileGlyph AGlyph, const QColor &AFore);

// ---- The control ----

// A lightweight tile: no native window, never takes focus, paints on its parent inside its bounds
// (the parent's background shows in the corners). 96 x 40 and radius 10 when created.
// Click: left press on the enabled tile and release inside it fires OnClick once.
class TTileButton : public QWidget {
    Q_OBJECT
public:
    explicit TTileButton(QWidget *AOwner = nullptr);

    // Caption, Glyph and Selected repaint only when the value changes.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString &AValue);
    TTileGlyph Glyph() const { return FGlyph; }  // a glyph other than tgNone hides the caption
    void SetGlyph(TTileGlyph AValue);
    bool Selected() const { return FSelected; }
    void SetSelected(bool AValue);
    // Radius and BigFont take effect at the next paint.
    int Radius() const { return FRadius; }  // width and height of the corner ellipse
    void SetRadius(int AValue) { FRadius = AValue; }
    bool BigFont() const { return FBigFont; }  // caption at 11 points instead of 9
    void SetBigFont(bool AValue) { FBigFont = AValue; }
    bool Hot() const { return FHot; }  // the pointer is over the tile (set only while enabled)

    QString Hint() const { return FHint; }
    void SetHint(const QString &AValue);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool AValue);
    qint64 Tag() const { return FTag; }  // free value for the owner
    void SetTag(qint64 AValue) { FTag = AValue; }

    TTileLook Look() const;

signals:
    void OnClick();

protected:
    void paintEvent(QPaintEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    void changeEvent(QEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;

private:
    void ApplyHint();

    QString FCaption;
    TTileGlyph FGlyph = TTileGlyph::tgNone;
    bool FSelected = false;
    bool FHot = false;
    int FRadius = 10;
    bool FBigFont = false;
    QString FHint;
    bool FShowHint = false;
    qint64 FTag = 0;
    bool FPressed = false;  // left press on the enabled tile not yet released
};
