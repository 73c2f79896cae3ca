#pragma once

#include "app/CVindrelDlg.h"
#include "camera/LinkConfig.h"
#include "video/Bitmap.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <turbojpeg.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace apptest {

// A link that finds no wireless adapter: Start finds no camera and sends nothing.
inline LinkConfig NoCameraConfig() {
    LinkConfig config;
    config.adapters = []() -> std::optional<std::vector<AdapterInfo>> { return std::vector<AdapterInfo>{}; };
    config.route = [](const std::string&) { return std::string("127.0.0.1"); };
    return config;
}

inline QPushButton* Button(const CVindrelDlg& dialog, int id) {
    return dialog.findChild<QPushButton*>(QString::number(id));
}

// Enabled state of Start, Stop, Take Photo, Record, PlayBack, in that order.
inline std::vector<bool> ButtonStates(const CVindrelDlg& dialog) {
    std::vector<bool> states;
    for (int id :
         {ControlId::Start, ControlId::Stop, ControlId::TakePhoto, ControlId::Record, ControlId::PlayBack})
        states.push_back(Button(dialog, id)->isEnabled());
    return states;
}

inline const std::vector<bool> kAfterCreation{true, false, false, false, true};
inline const std::vector<bool> kAfterStart{false, true, true, true, true};

// A picture of smooth waves that differ with seed: natural enough for a JPEG at quality 75, different
// enough that two seeds are easily told apart.
inline BitmapPtr MakeBitmap(int width, int height, int seed = 0) {
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap->pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
            p[0] = static_cast<uint8_t>(128 + 100 * std::sin((x + seed * 37) / 50.0));
            p[1] = static_cast<uint8_t>(128 + 100 * std::cos((y + seed * 23) / 40.0));
            p[2] = static_cast<uint8_t>(255.0 * (x + y) / (width + height));
            p[3] = 255;
        }
    }
    return bitmap;
}

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgrx;
};

inline std::optional<DecodedJpeg> DecodeJpegFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.empty())
        return std::nullopt;
    tjhandle handle = tjInitDecompress();
    DecodedJpeg out;
    int subsampling = 0, colorspace = 0;
    bool ok = tjDecompressHeader3(handle, bytes.data(), bytes.size(), &out.width, &out.height, &subsampling,
                                  &colorspace) == 0;
    if (ok) {
        out.bgrx.resize(static_cast<size_t>(out.width) * out.height * 4);
        ok = tjDecompress2(handle, bytes.data(), bytes.size(), out.bgrx.data(), out.width, out.width * 4,
                           out.height, TJPF_BGRX, 0) == 0;
    }
    tjDestroy(handle);
    if (!ok)
        return std::nullopt;
    return out;
}

// Peak signal-to-noise ratio of the luma (BT.601 weights of red, green and blue), in dB: what the eye
// and the usual picture-quality figures judge; 4:2:0 photos give up chroma detail by design.
inline double Psnr(const Bitmap& reference, const DecodedJpeg& decoded) {
    auto luma = [](const uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
    double squared = 0;
    size_t count = 0;
    for (size_t i = 0; i + 3 < reference.pixels.size() && i + 3 < decoded.bgrx.size(); i += 4) {
        const double d = luma(&reference.pixels[i]) - luma(&decoded.bgrx[i]);
        squared += d * d;
        ++count;
    }
    if (count == 0)
        return 0;
    const double mse = squared / double(count);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Files in the media folder, sorted by name.
inline QStringList MediaFiles(const CVindrelDlg& dialog) {
    return QDir(QString::fromStdString(dialog.mediaPath())).entryList(QDir::Files, QDir::Name);
}

// Closes whatever modal dialog is open once the event loop gets to it, and reports its title.
inline void CloseModalSoon(QString* title) {
    QTimer::singleShot(50, [title] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (title)
                *title = modal->windowTitle();
            modal->close();
        }
    });
}

} // namespace apptest
