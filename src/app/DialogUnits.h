#pragma once

#include <QFont>
#include <QRect>

// Converts dialog-template units to pixels the way Windows does: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

  private:
    int m_baseX;
    int m_baseY;
};

// The template font of both dialogs ("MS Shell Dlg", 9 point), with the nearest fonts this system has.
QFont DialogFont();
