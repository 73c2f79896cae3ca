#pragma once

#include "video/Bitmap.h"

#include <QWidget>

#include <cstdint>

// The video area: a black frame with the newest picture fitted and centred inside it. Pictures are
// handed over on the GUI thread; the view never paints from another thread.
class MyCStatic : public QWidget {
    Q_OBJECT
  public:
    explicit MyCStatic(QWidget* parent = nullptr);

    // GUI thread only.
    void SetPicture(BitmapPtr picture);
    const BitmapPtr& picture() const { return m_picture; }
    // Pictures painted so far (each one counted once, however often it is repainted).
    uint64_t picturesPainted() const { return m_picturesPainted; }

  signals:
    // The wheel turned over the view (vertical angle delta); the main window decides whether it zooms.
    void wheelTurned(int zDelta);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    BitmapPtr m_picture;
    uint64_t m_pictureSerial = 0;
    uint64_t m_paintedSerial = 0;
    uint64_t m_picturesPainted = 0;
};
