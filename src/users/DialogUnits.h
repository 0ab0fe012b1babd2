// Dialog templates measured in dialog units, placed in pixels for the dialog's font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <algorithm>

// As on Windows: a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height, so that a dialog keeps its template's proportions in
// any font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Widens the horizontal unit, when needed, so that `pixels` fit into `widthUnits`: in a
    // font whose words run wider than its average letter every caption stays whole, and the
    // template keeps its proportions.
    void FitWidth(int pixels, int widthUnits) {
        if (widthUnits > 0)
            m_baseX = std::max(m_baseX, (4 * pixels + widthUnits - 1) / widthUnits);
    }

    int X(int units) const { return (units * m_baseX + 2) / 4; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const {
        return QRect(X(x), Y(y), X(width), Y(height));
    }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

    int BaseX() const { return m_baseX; } // average character width in pixels
    int BaseY() const { return m_baseY; } // character height in pixels

private:
    int m_baseX;
    int m_baseY;
};
